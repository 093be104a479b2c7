// Keeps a file open without sharing for some seconds, as a running product
// does with its files: holdfile.exe PATH SECONDS
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}
