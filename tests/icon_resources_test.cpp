// The icons as stored in the built Kestrand.exe, read from the resources themselves: the
// class icon and the small icon, by the names the window class asks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// The test build puts Kestrand.exe one folder above the tests' own exe.
std::string kestrandExePath()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, DWORD(sizeof path));
    std::string s(path, n);
    s.resize(s.find_last_of('\\'));
    s.resize(s.find_last_of('\\'));
    return s + "\\Kestrand.exe";
}

class KestrandIcons : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(kestrandExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << kestrandExePath() << " error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct IconGroup {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// The image that the icon group `name` names, as stored: header, palette, pixels, mask.
void readIconImage(HMODULE module, const char *name, std::string &image)
{
    HRSRC group = FindResourceA(module, name, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    ASSERT_GE(SizeofResource(module, group), sizeof(IconGroup) + sizeof(IconGroupEntry));
    const auto *header = static_cast<const IconGroup *>(LockResource(LoadResource(module, group)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->type, 1u);
    ASSERT_EQ(header->count, 1u) << "one image only";
    const auto *entry = reinterpret_cast<const IconGroupEntry *>(header + 1);
    EXPECT_EQ(entry->width, 32);
    EXPECT_EQ(entry->height, 32);
    EXPECT_EQ(entry->colours, 16);
    HRSRC icon = FindResourceA(module, MAKEINTRESOURCEA(entry->id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_NE(icon, nullptr);
    image.assign(static_cast<const char *>(LockResource(LoadResource(module, icon))),
                 SizeofResource(module, icon));
    EXPECT_EQ(image.size(), entry->bytes);
}

// Header, 16 palette entries, 32 rows of 4-bit pixels and 32 rows of the 1-bit mask.
constexpr size_t headerBytes = 40, paletteBytes = 16 * 4, pixelBytes = 32 * 16, maskBytes = 32 * 4;

TEST_F(KestrandIcons, EachHoldsOne32By32ImageIn16Colours)
{
    for (const char *name : {"MyIcon1", "MyIcon2"}) {
        SCOPED_TRACE(name);
        std::string image;
        readIconImage(module_, name, image);
        ASSERT_EQ(image.size(), headerBytes + paletteBytes + pixelBytes + maskBytes);
        BITMAPINFOHEADER header;
        memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(header.biSize, headerBytes);
        EXPECT_EQ(header.biWidth, 32);
        EXPECT_EQ(header.biHeight, 64) << "the pixels and the mask below each other";
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 4);
        EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
        EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 16) << header.biClrUsed;
        // A picture: some pixels shown, in more than one colour.
        const char *pixels = image.data() + headerBytes + paletteBytes;
        const char *mask = pixels + pixelBytes;
        std::set<int> shown;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                bool clear = (mask[y * 4 + x / 8] >> (7 - x % 8)) & 1;
                int index = (pixels[y * 16 + x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
                if (!clear) shown.insert(index);
            }
        EXPECT_GE(shown.size(), 2u);
    }
}

TEST_F(KestrandIcons, AreTwoDifferentPictures)
{
    // The small icon is a picture of its own, not the class icon twice.
    std::string first, second;
    readIconImage(module_, "MyIcon1", first);
    readIconImage(module_, "MyIcon2", second);
    EXPECT_NE(first.substr(headerBytes + paletteBytes), second.substr(headerBytes + paletteBytes));
}

}  // namespace
