#include "product/settings_container.h"

#include <windows.h>

#include <cstring>

#include "win/files.h"
#include "win/text.h"
#include "win/unique.h"

namespace {

struct Marker {
    unsigned long offset;
    char text[4];
};
constexpr Marker markers[] = {
    {4, {'K', 'o', 'R', 'a'}},
    {68, {'B', 'l', 'A', 'n'}},
    {104, {'N', 'a', 'L', 'b'}},
    {8188, {'I', 'r', 'O', 'k'}},
};

constexpr const char* keys[] = {
    "KoRiBlAnNaLbIrOk$",
    "DuNeWiSpEr*",
    "HeRoNrY-RaVe-CyClOnE-NoVaLiS-",
    "KWR",
};

constexpr unsigned long majorOffset = 8;
constexpr unsigned long minorOffset = 10;
constexpr unsigned long optionOffset = 16;
constexpr unsigned long componentOffset = 20;

void xorPass(unsigned char* image, const char* key)
{
    const size_t length = std::strlen(key);
    size_t k = 0;
    for (unsigned long i = 0; i < SettingsContainer::imageSize; ++i) {
        image[i] ^= static_cast<unsigned char>(key[k]) | 0x80;
        if (++k == length) k = 0;
    }
}

// Selector -> bit of the option word; the selectors are not contiguous.
int optionBit(long selector)
{
    switch (static_cast<unsigned long>(selector)) {
    case 0:
        return 16;
    case 1:
        return 17;
    case 2:
        return 18;
    case 3:
        return 19;
    case 6:
        return 20;
    case 12:
        return 21;
    case 13:
        return 22;
    case 14:
        return 23;
    case 15:
        return 24;
    default:
        return -1;
    }
}

} // namespace

SettingsContainer::SettingsContainer() { reset(); }

SettingsContainer::~SettingsContainer()
{
    if (dirty_) save(nullptr);
}

void SettingsContainer::reset()
{
    std::memset(image_, 0, sizeof image_);
    setWord(0, 8192);
    setWord(72, 8);
}

void SettingsContainer::scramble(unsigned char* image)
{
    for (const char* key : keys) xorPass(image, key);
}

void SettingsContainer::unscramble(unsigned char* image)
{
    for (int i = 3; i >= 0; --i) xorPass(image, keys[i]);
}

int SettingsContainer::load(const char* path)
{
    if (path && !*path) path = nullptr;
    bool newPath = false;
    std::string target;
    if (path) {
        target = path;
        newPath = !hasPath_ || !win::sameText(path, path_);
    } else {
        if (!hasPath_) return 0;
        target = path_;
    }
    win::File file(CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    DWORD read = 0;
    if (!ReadFile(file.get(), image_, imageSize, &read, nullptr)) return 0;
    unscramble(image_);
    dirty_ = false;
    if (!markersMatch()) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    if (newPath) {
        path_ = target;
        hasPath_ = true;
    }
    return 1;
}

int SettingsContainer::save(const char* path)
{
    if (path && !*path) path = nullptr;
    std::string target;
    if (path) {
        target = path;
        if (hasPath_ && win::sameText(path, path_) && !dirty_) return 1;
    } else {
        if (!hasPath_) return 0;
        if (!dirty_) return 1;
        target = path_;
    }
    putMarkers();
    unsigned char scrambled[imageSize];
    std::memcpy(scrambled, image_, imageSize);
    scramble(scrambled);
    // A work folder of this write alone: the file is written once.
    win::WorkFolders work;
    if (!win::replaceFile(work, target, scrambled, imageSize)) return 0;
    dirty_ = false;
    if (!hasPath_) {
        path_ = target;
        hasPath_ = true;
    }
    return 1;
}

unsigned short SettingsContainer::versionMajor() const { return word(majorOffset); }

void SettingsContainer::setVersionMajor(unsigned short value)
{
    setWord(majorOffset, value);
    dirty_ = true;
}

void SettingsContainer::setVersionMinor(unsigned short value)
{
    setWord(minorOffset, value);
    dirty_ = true;
}

int SettingsContainer::option(long selector) const
{
    int bit = optionBit(selector);
    return bit < 0 ? 0 : static_cast<int>((dword(optionOffset) >> bit) & 1);
}

int SettingsContainer::hasRemotePart() const { return static_cast<int>(dword(componentOffset) & 1); }

int SettingsContainer::hasHostPart() const { return static_cast<int>((dword(componentOffset) >> 1) & 1); }

unsigned short SettingsContainer::word(unsigned long offset) const
{
    return static_cast<unsigned short>(image_[offset] | image_[offset + 1] << 8);
}

unsigned long SettingsContainer::dword(unsigned long offset) const
{
    return static_cast<unsigned long>(image_[offset]) | static_cast<unsigned long>(image_[offset + 1]) << 8 |
           static_cast<unsigned long>(image_[offset + 2]) << 16 | static_cast<unsigned long>(image_[offset + 3]) << 24;
}

void SettingsContainer::setWord(unsigned long offset, unsigned short value)
{
    image_[offset] = static_cast<unsigned char>(value & 0xFF);
    image_[offset + 1] = static_cast<unsigned char>(value >> 8);
}

bool SettingsContainer::markersMatch() const
{
    for (const Marker& m : markers)
        if (std::memcmp(image_ + m.offset, m.text, 4) != 0) return false;
    return true;
}

void SettingsContainer::putMarkers()
{
    for (const Marker& m : markers) std::memcpy(image_ + m.offset, m.text, 4);
}
