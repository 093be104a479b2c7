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
    std::string image(SettingsContainer::imageSize, '\0');
    image[1] = 0x20;
    image[72] = 8;
    std::memcpy(&image[4], "KoRa", 4);
    std::memcpy(&image[68], "BlAn", 4);
    std::memcpy(&image[104], "NaLb", 4);
    std::memcpy(&image[8188], "IrOk", 4);
    const unsigned long values[] = {std::strtoul(argv[2], nullptr, 0), std::strtoul(argv[3], nullptr, 0),
                                    std::strtoul(argv[4], nullptr, 0), std::strtoul(argv[5], nullptr, 0)};
    const size_t offsets[] = {8, 10, 16, 20};
    const int sizes[] = {2, 2, 4, 4};
    for (int f = 0; f < 4; ++f)
        for (int i = 0; i < sizes[f]; ++i) image[offsets[f] + i] = static_cast<char>((values[f] >> (8 * i)) & 0xFF);
    SettingsContainer::scramble(reinterpret_cast<unsigned char*>(&image[0]));
    return kit::writeFile(argv[1], image) ? 0 : 1;
}
