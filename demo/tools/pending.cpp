// Prints the delayed moves waiting for the next start, one per line, for the demo.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int main()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 1;
    DWORD size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return 0;
    }
    std::vector<char> data(size + 2, '\0');
    RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    // Pairs of texts: source, then target (empty for a deletion).
    std::vector<std::string> texts;
    for (size_t at = 0; at < size;) {
        std::string text(&data[at]);
        texts.push_back(text);
        at += text.size() + 1;
    }
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        if (texts[i].empty()) break;
        std::printf("    %s  ->  %s\n", texts[i].c_str(), texts[i + 1].empty() ? "(deleted)" : texts[i + 1].c_str());
    }
    return 0;
}
