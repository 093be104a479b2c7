// Writes a genuine product settings file, or shows one's version, for the demo:
//   mksettings.exe PATH MAJOR MINOR OPTIONWORD COMPONENTWORD
//   mksettings.exe --show PATH
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/kit.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--show") == 0) {
        unsigned major = 0, minor = 0;
        if (!kit::settingsVersion(argv[2], major, minor)) {
            std::printf("not a settings file\n");
            return 1;
        }
        std::printf("version %u.%u\n", major, minor);
        return 0;
    }
    if (argc != 6) return 2;
    auto number = [&](int i) { return std::strtoul(argv[i], nullptr, 0); };
    return kit::writeFile(argv[1], kit::settingsFile(number(2), number(3), number(4), number(5))) ? 0 : 1;
}
