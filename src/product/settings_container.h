#pragma once
// The image of the product's 8192-byte scrambled settings file.
#include <string>

class SettingsContainer {
public:
    static constexpr unsigned long imageSize = 8192;

    // Fresh: reset image, changed, no path.
    SettingsContainer();
    // Writes a changed image back to its path; the result is not reported.
    ~SettingsContainer();
    SettingsContainer(const SettingsContainer&) = delete;
    SettingsContainer& operator=(const SettingsContainer&) = delete;

    // Zeroes the image and sets its record size (8192) and the word at 72 (8).
    void reset();
    // Reads and unscrambles path (or the stored path when null). 1 when the
    // four markers are right.
    int load(const char* path);
    // Scrambles and writes the image to path (or the stored path when null).
    // A clean image is not rewritten to its own path. The file is replaced
    // only by a complete new one.
    int save(const char* path);

    unsigned short versionMajor() const;
    void setVersionMajor(unsigned short value);
    void setVersionMinor(unsigned short value);
    // One bit of the option word, by its selector; 0 for unknown selectors.
    int option(long selector) const;
    int hasRemotePart() const;
    int hasHostPart() const;

    // XOR passes of the four keys; applying it twice restores the image.
    static void scramble(unsigned char* image);
    static void unscramble(unsigned char* image);

private:
    unsigned short word(unsigned long offset) const;
    unsigned long dword(unsigned long offset) const;
    void setWord(unsigned long offset, unsigned short value);
    bool markersMatch() const;
    void putMarkers();

    bool dirty_ = true;
    unsigned char image_[imageSize];
    std::string path_;
    bool hasPath_ = false;
};
