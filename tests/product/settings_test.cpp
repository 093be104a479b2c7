#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kit/testkit.h"
#include "product/settings_container.h"

namespace {

using Image = std::string;

// A plain image with the four markers, as the product writes it.
Image plainImage()
{
    Image image(SettingsContainer::imageSize, '\0');
    image[1] = 0x20;  // record size 8192
    std::memcpy(&image[4], "KoRa", 4);
    std::memcpy(&image[68], "BlAn", 4);
    image[72] = 8;
    std::memcpy(&image[104], "NaLb", 4);
    std::memcpy(&image[8188], "IrOk", 4);
    return image;
}

void putDword(Image& image, size_t offset, unsigned long value)
{
    for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string scrambled(Image image)
{
    SettingsContainer::scramble(reinterpret_cast<unsigned char*>(&image[0]));
    return image;
}

class Settings : public testing::Test {
protected:
    kit::TempDir dir{"settings"};
    std::string file(const char* name) const { return dir / name; }
    std::string contents(const std::string& path) const
    {
        std::string data;
        kit::readFile(path, data);
        return data;
    }
};

TEST_F(Settings, KnownAnswerBytesOfAFreshImage)
{
    // Key stream byte i = XOR of (key[i mod length] | 0x80) over the four keys,
    // worked out by hand:
    //   i=0:    K^D^H^K = 0x0C      i=1: o^u^e^W = 0x28
    //   i=4:    B^W^N^W = 0x0C      i=8191: O^p^C^W = 0x2B
    {
        SettingsContainer fresh;
        ASSERT_EQ(fresh.save(file("fresh.bin").c_str()), 1);
    }
    std::string data = contents(file("fresh.bin"));
    ASSERT_EQ(data.size(), 8192u);
    EXPECT_EQ(static_cast<unsigned char>(data[0]), 0x00 ^ 0x0C);
    EXPECT_EQ(static_cast<unsigned char>(data[1]), 0x20 ^ 0x28);
    EXPECT_EQ(static_cast<unsigned char>(data[4]), 'K' ^ 0x0C);
    EXPECT_EQ(static_cast<unsigned char>(data[8191]), 'k' ^ 0x2B);
    EXPECT_EQ(data, scrambled(plainImage()));
}

TEST_F(Settings, ScramblingTwiceRestoresAndPassesCommute)
{
    Image image = plainImage();
    putDword(image, 16, 0xDEADBEEF);
    Image once = scrambled(image);
    EXPECT_NE(once, image);
    Image back = once;
    SettingsContainer::unscramble(reinterpret_cast<unsigned char*>(&back[0]));
    EXPECT_EQ(back, image);
    EXPECT_EQ(scrambled(once), image);  // the same four passes again cancel out
}

TEST_F(Settings, OptionSelectorsMapToTheirBits)
{
    const int bits[] = {16, 17, 18, 19, -1, -1, 20, -1, -1, -1, -1, -1, 21, 22, 23, 24, -1};
    for (int selector = 0; selector <= 16; ++selector) {
        for (bool set : {false, true}) {
            Image image = plainImage();
            unsigned long word = set ? 0xFFFFFFFFul : 0;
            if (bits[selector] >= 0 && !set) word = ~(1ul << bits[selector]);
            putDword(image, 16, word);
            kit::writeFile(file("o.bin"), scrambled(image));
            SettingsContainer s;
            ASSERT_EQ(s.load(file("o.bin").c_str()), 1);
            int expected = bits[selector] >= 0 && set ? 1 : 0;
            EXPECT_EQ(s.option(selector), expected) << "selector " << selector << " set " << set;
        }
    }
    Image all = plainImage();
    putDword(all, 16, 0xFFFFFFFFul);
    kit::writeFile(file("o.bin"), scrambled(all));
    SettingsContainer s;
    ASSERT_EQ(s.load(file("o.bin").c_str()), 1);
    EXPECT_EQ(s.option(-1), 0);
    EXPECT_EQ(s.option(0x7FFFFFFF), 0);
}

TEST_F(Settings, ForeignFileIsRejectedAndNeverWrittenBack)
{
    Image image = plainImage();
    image[69] = 'X';  // marker 2 damaged
    const std::string foreign = scrambled(image);
    kit::writeFile(file("f.bin"), foreign);
    {
        SettingsContainer s;
        EXPECT_EQ(s.load(file("f.bin").c_str()), 0);
        EXPECT_FALSE(s.dirty());
        EXPECT_EQ(s.path(), nullptr);
    }
    EXPECT_EQ(contents(file("f.bin")), foreign);
    SettingsContainer missing;
    EXPECT_EQ(missing.load(file("none.bin").c_str()), 0);
    EXPECT_TRUE(missing.dirty());
    EXPECT_EQ(missing.load(nullptr), 0);
}

TEST_F(Settings, ShortAndLongFiles)
{
    kit::writeFile(file("short.bin"), scrambled(plainImage()).substr(0, 100));
    SettingsContainer s;
    EXPECT_EQ(s.load(file("short.bin").c_str()), 0);  // marker 4 was never read

    kit::writeFile(file("long.bin"), scrambled(plainImage()) + std::string(100, 'x'));
    {
        SettingsContainer l;
        ASSERT_EQ(l.load(file("long.bin").c_str()), 1);
        l.setVersionMajor(11);
    }
    EXPECT_EQ(contents(file("long.bin")).size(), 8192u);
}

TEST_F(Settings, StoredPathRules)
{
    Image image = plainImage();
    image[8] = 10;
    const std::string original = scrambled(image);
    kit::writeFile(file("v.bin"), original);
    SettingsContainer s;
    ASSERT_EQ(s.load(file("v.bin").c_str()), 1);
    std::string upper = file("V.BIN");
    ASSERT_EQ(s.load(upper.c_str()), 1);
    EXPECT_EQ(*s.path(), file("v.bin"));  // the first spelling stays

    // Clean image to its own path: nothing written.
    kit::writeFile(file("v.bin"), "changed on disk");
    EXPECT_EQ(s.save(upper.c_str()), 1);
    EXPECT_EQ(contents(file("v.bin")), "changed on disk");

    // Clean image to another path: a byte-identical copy, stored path kept.
    EXPECT_EQ(s.save(file("copy.bin").c_str()), 1);
    EXPECT_EQ(contents(file("copy.bin")), original);
    EXPECT_EQ(*s.path(), file("v.bin"));
}

TEST_F(Settings, FailedWriteKeepsTheOldFileWhole)
{
    Image image = plainImage();
    image[8] = 10;
    const std::string original = scrambled(image);
    kit::writeFile(file("s.bin"), original);
    SetFileAttributesA(file("s.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        SettingsContainer s;
        ASSERT_EQ(s.load(file("s.bin").c_str()), 1);
        s.setVersionMajor(11);
        EXPECT_EQ(s.save(nullptr), 0);
        EXPECT_TRUE(s.dirty());
        EXPECT_EQ(s.versionMajor(), 11);  // the image is usable again
    }
    EXPECT_EQ(contents(file("s.bin")), original);
    SetFileAttributesA(file("s.bin").c_str(), FILE_ATTRIBUTE_NORMAL);

    {
        SettingsContainer s;
        ASSERT_EQ(s.load(file("s.bin").c_str()), 1);
        s.setVersionMajor(12);
        auto holder = std::make_unique<kit::FileHolder>(file("s.bin"));
        ASSERT_TRUE(holder->held());
        EXPECT_EQ(s.save(nullptr), 0);  // the replacement cannot take the file's place
        holder.reset();
        EXPECT_EQ(contents(file("s.bin")), original);
        s.setVersionMajor(10);
    }
    EXPECT_EQ(kit::listDir(dir.path()), std::vector<std::string>{"s.bin"});
}

} // namespace
