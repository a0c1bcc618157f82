// The icons as Windows itself loads them from the built Kestrand.exe: the class icon
// and the small icon, by the names the window class asks for.
#include <gtest/gtest.h>

#include <windows.h>

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

void expectIconOf32By32(HICON icon)
{
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    ASSERT_NE(info.hbmColor, nullptr) << "an icon without colour";
    BITMAP colour{};
    ASSERT_NE(GetObjectA(info.hbmColor, sizeof colour, &colour), 0);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(KestrandIcons, BothLoadByNameAs32By32Icons)
{
    for (const char *name : {"MyIcon1", "MyIcon2"}) {
        SCOPED_TRACE(name);
        HRSRC group = FindResourceA(module_, name, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
        ASSERT_NE(group, nullptr);
        HICON icon = static_cast<HICON>(LoadImageA(module_, name, IMAGE_ICON, 32, 32, 0));
        ASSERT_NE(icon, nullptr) << "error " << GetLastError();
        expectIconOf32By32(icon);
        DestroyIcon(icon);
    }
}

TEST_F(KestrandIcons, AreTwoDifferentPictures)
{
    // The small icon is a picture of its own, not the class icon twice.
    std::string bytes[2];
    const char *names[2] = {"MyIcon1", "MyIcon2"};
    for (int i = 0; i < 2; ++i) {
        HRSRC group = FindResourceA(module_, names[i], MAKEINTRESOURCEA(14));
        ASSERT_NE(group, nullptr);
        int id = LookupIconIdFromDirectoryEx(
            static_cast<PBYTE>(LockResource(LoadResource(module_, group))), TRUE, 32, 32, 0);
        ASSERT_NE(id, 0);
        HRSRC image = FindResourceA(module_, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));  // RT_ICON
        ASSERT_NE(image, nullptr);
        bytes[i].assign(static_cast<const char *>(LockResource(LoadResource(module_, image))),
                        SizeofResource(module_, image));
    }
    EXPECT_NE(bytes[0], bytes[1]);
}

}  // namespace
