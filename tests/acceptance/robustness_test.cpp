// Bad input through the window and the command line: each ends in a clear message or a
// clean refusal, never a crash or a hang, and nothing is written outside the named folders.
#include <gtest/gtest.h>

#include "acceptance/session.h"

namespace {

const char infeasible[] = "Use, please, digits,latin letters and '_' only: ";

bool allowedByTheRule(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' ||
           c == '\\';
}

class Robustness : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = folder / "data.bin";
        writeFile(source, randomBytes(2000, 4));
    }
    void endCleanly(Session &s)
    {
        ASSERT_TRUE(s.alive());
        s.press(CancelButton);
        EXPECT_EQ(s.exitCode(), 0);
        EXPECT_FALSE(anyScriptUnder(folder.path()));
    }
    TempFolder folder;
    std::string source;
};

}  // namespace

TEST_F(Robustness, LongTextsInEveryField)
{
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    // A text over 248 characters is refused whole: cut, it could name another file that
    // exists, as the first 300-character text here does.
    const std::string cutName(248 - folder.path().size() - 1, 'a');
    writeFile(folder / cutName, "not what the user typed");
    const std::string cutToAFile = folder / (cutName + std::string(52, 'a'));
    ASSERT_EQ(cutToAFile.size(), 300u);
    for (const std::string &typed : {cutToAFile, folder.path() + "\\" + std::string(1000, 'a')}) {
        s.type(SourceField, typed);
        s.press(OkButton);
        SeenBox box = s.answer();
        EXPECT_EQ(box.caption, "Error opening file");
        EXPECT_EQ(box.icon, UINT(MB_ICONERROR));
        EXPECT_EQ(box.text, typed.substr(0, 248));
        EXPECT_TRUE(s.waitPhase(sourcePhase)) << typed.size();
    }
    ASSERT_TRUE(s.acceptSource(source));
    CreateDirectoryA((folder / "d").c_str(), nullptr);
    for (size_t length : {249u, 300u, 1000u}) {
        std::string typed = folder / ("d\\" + std::string(length, 'b'));
        s.type(DestField, typed);
        s.press(OkButton);
        SeenBox box = s.answer();
        EXPECT_EQ(box.caption, "Error opening file") << length;
        EXPECT_EQ(box.icon, UINT(MB_ICONERROR));
        EXPECT_EQ(box.text, typed.substr(0, 248));
        EXPECT_TRUE(s.waitPhase(destinationPhase)) << length;
        EXPECT_EQ(filesUnder(folder / "d"), std::set<std::string>{}) << length;
    }
    std::string deep = folder.path();
    for (int i = 0; i < 45; ++i) deep += "\\f";
    s.type(DestField, deep + "\\p");
    s.press(OkButton);
    EXPECT_EQ(s.answer().caption, "Infeasible name") << "more folder levels than the program keeps";
    EXPECT_FALSE(folderExists(folder / "f")) << "refused before any folder is created";
    EXPECT_EQ(filesUnder(folder.path()), (std::set<std::string>{"data.bin", cutName}));
    RemoveDirectoryA((folder / "d").c_str());
    DeleteFileA((folder / cutName).c_str());

    ASSERT_TRUE(s.acceptDestination(folder / "p1"));
    for (size_t length : {249u, 300u}) {
        s.type(SizeField, std::string(length, '7'));
        s.press(OkButton);
        EXPECT_EQ(s.answer().text, "Number of Bytes less 1000000000!");
        EXPECT_TRUE(s.waitPhase(sizePhase));
    }
    endCleanly(s);
}

TEST_F(Robustness, EveryByteAsTheLastCharacterOfTheSource)
{
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    std::string base = folder / "missing";
    for (int b = 1; b < 256; ++b) {
        s.type(SourceField, base + char(b));
        s.press(OkButton);
        SeenBox box = s.answer();
        if (allowedByTheRule((unsigned char)b)) {
            EXPECT_EQ(box.caption, "Error opening file") << "byte " << b;
        } else {
            EXPECT_EQ(box.caption, "Infeasible name") << "byte " << b;
            EXPECT_EQ(box.text.rfind(infeasible, 0), 0u) << "byte " << b << ": " << box.text;
        }
        ASSERT_TRUE(s.waitPhase(sourcePhase)) << "byte " << b;
    }
    EXPECT_TRUE(s.acceptSource(source));
    endCleanly(s);
    EXPECT_EQ(filesUnder(folder.path()), std::set<std::string>{"data.bin"});
}

TEST_F(Robustness, EveryByteAsTheLastCharacterOfADestination)
{
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    std::string base = folder / "d\\pz";
    for (int b = 1; b < 256; ++b) {
        s.type(DestField, base + char(b));
        s.press(OkButton);
        if (b == '\\') {
            // No name at all: the folders are made, the file cannot be.
            EXPECT_EQ(s.answer().caption, "Error opening file");
            ASSERT_TRUE(s.waitPhase(destinationPhase));
        } else if (allowedByTheRule((unsigned char)b)) {
            ASSERT_TRUE(s.waitPhase(sizePhase)) << "byte " << b;
            s.press(ChangeButton);
            ASSERT_TRUE(s.waitPhase(destinationPhase)) << "byte " << b;
        } else {
            SeenBox box = s.answer();
            EXPECT_EQ(box.caption, "Infeasible name") << "byte " << b;
            EXPECT_EQ(box.text.rfind(infeasible, 0), 0u) << "byte " << b << ": " << box.text;
            ASSERT_TRUE(s.waitPhase(destinationPhase)) << "byte " << b;
        }
    }
    endCleanly(s);
    // "Change" removed every empty piece file again; only the named folders stay.
    EXPECT_EQ(filesUnder(folder.path()), std::set<std::string>{"data.bin"});
}

TEST_F(Robustness, CommandLineTails)
{
    std::string spaced = folder / "two words.bin";
    writeFile(spaced, "x");
    {
        Session s;  // quotes are part of the name
        ASSERT_TRUE(s.start("\"" + source + "\"", folder.path()));
        ASSERT_EQ(s.early.size(), 1u);
        EXPECT_EQ(s.early[0].caption, "Error opening file");
        EXPECT_EQ(s.early[0].text, "\"" + source + "\"");
        EXPECT_EQ(s.text(SourceField), "");
        endCleanly(s);
    }
    {
        Session s;  // blanks inside are one path
        ASSERT_TRUE(s.start(spaced, folder.path()));
        EXPECT_TRUE(s.early.empty());
        EXPECT_EQ(s.text(SourceField), spaced);
        s.press(OkButton);
        EXPECT_EQ(s.answer().text, std::string(infeasible) + "two words.bin");
        endCleanly(s);
    }
    {
        Session s;  // too long: refused, not cut
        std::string tail = folder.path() + "\\" + std::string(300, 'c');
        ASSERT_TRUE(s.start(tail, folder.path()));
        ASSERT_EQ(s.early.size(), 1u);
        EXPECT_EQ(s.early[0].caption, "Error opening file");
        EXPECT_EQ(s.early[0].icon, UINT(MB_ICONERROR));
        EXPECT_EQ(s.early[0].text, tail.substr(0, 248));
        EXPECT_EQ(s.text(SourceField), "");
        endCleanly(s);
    }
    for (const char *odd : {"\"", "\"\"", "\" \"", "   "}) {
        Session s;
        ASSERT_TRUE(s.start(odd, folder.path())) << odd;
        EXPECT_LE(s.early.size(), 1u);
        endCleanly(s);
    }
    EXPECT_EQ(filesUnder(folder.path()), (std::set<std::string>{"data.bin", "two words.bin"}));
}
