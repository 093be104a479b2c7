// Writes a genuine product settings file, for the demo:
//   mksettings.exe PATH MAJOR MINOR OPTIONWORD COMPONENTWORD
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/testkit.h"
#include "product/settings_container.h"

int main(int argc, char** argv)
{
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
