// Writes a genuine product settings file, or shows one's version, for the demo:
//   mksettings.exe PATH MAJOR MINOR OPTIONWORD COMPONENTWORD
//   mksettings.exe --show PATH
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/testkit.h"
#include "product/settings_container.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--show") == 0) {
        SettingsContainer settings;
        if (!settings.load(argv[2])) {
            std::printf("not a settings file\n");
            return 1;
        }
        std::string plain;
        kit::readFile(argv[2], plain);
        SettingsContainer::unscramble(reinterpret_cast<unsigned char*>(&plain[0]));
        std::printf("version %u.%u\n", settings.versionMajor(),
                    static_cast<unsigned char>(plain[10]) | static_cast<unsigned char>(plain[11]) << 8);
        return 0;
    }
    if (argc != 6) return 2;
    auto number = [&](int i) { return std::strtoul(argv[i], nullptr, 0); };
    const std::string image = kit::settingsFile(static_cast<unsigned short>(number(2)),
                                                static_cast<unsigned short>(number(3)), number(4), number(5));
    return kit::writeFile(argv[1], image) ? 0 : 1;
}
