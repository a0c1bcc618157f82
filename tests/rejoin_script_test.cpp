#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "split/rejoin_script.h"
#include "support/batch.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/split_fixture.h"

namespace {

std::string pieceLabel(int n)
{
    char text[8];
    wsprintfA(text, "p%02d", n);
    return text;
}

std::vector<std::string> numberedPieces(int count)
{
    std::vector<std::string> names;
    for (int n = 1; n <= count; ++n) names.push_back(pieceLabel(n));
    return names;
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (;;) {
        size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return lines;
        at = end + 2;
    }
}

class RejoinScript : public SplitFixture {
protected:
    void SetUp() override
    {
        SplitFixture::SetUp();
        SetCurrentDirectoryA(folder_.path().c_str());
    }

    void usePieces(const std::vector<std::string> &names, const char *source)
    {
        std::string list;
        for (const std::string &name : names) list += name + " ";
        strcpy(state.pieceNames, list.c_str());
        state.pieceCount = uint32_t(names.size());
        strcpy(state.sourceName, source);
    }

    // Writes the script and returns its text as it stands on disk.
    std::string written(const std::string &scriptName)
    {
        EXPECT_EQ(writeRejoinScript(), 1);
        EXPECT_STREQ(state.sourceName, scriptName.c_str());
        return readFile(folder_ / scriptName);
    }

    TempFolder folder_;
};

}  // namespace

TEST_F(RejoinScript, TwoPiecesGiveTheExactScript)
{
    usePieces({"piece01", "piece02"}, "data.bin");
    const std::string expected =
        "@echo off\r\n"
        "if exist piece01 goto 1\r\n"
        "cmd /k \"echo In the folder is not exist file piece01\"\r\n"
        "goto the_end\r\n"
        "\r\n"
        ":1\r\n"
        "if exist piece02 goto 2\r\n"
        "cmd /k \"echo In the folder is not exist file piece02\"\r\n"
        "goto the_end\r\n"
        "\r\n"
        ":2\r\n"
        "echo Please wait ...\r\n"
        "ren piece01 _0._9\r\n"
        "ren piece02 _1._9\r\n"
        "copy _0._9 /b + _1._9 /b _z._9 /b\r\n"
        "ren _z._9 data.bin\r\n"
        "del _0._9\r\n"
        "del _1._9\r\n"
        ":the_end\r\n"
        "echo Process finished.";
    std::string script = written("data.bat");
    EXPECT_EQ(script.size(), 380u);
    EXPECT_EQ(script, expected);
    EXPECT_EQ(linesOf(script).size(), 20u);
}

TEST_F(RejoinScript, OnePieceAndNoPiece)
{
    usePieces({"p1"}, "big.iso");
    std::vector<std::string> one = linesOf(written("big.bat"));
    ASSERT_EQ(one.size(), 13u);
    EXPECT_EQ(one[7], "ren p1 _0._9");
    EXPECT_EQ(one[8], "copy _0._9 /b _z._9 /b");
    EXPECT_EQ(one[9], "ren _z._9 big.iso");
    EXPECT_EQ(one[10], "del _0._9");

    usePieces({}, "empty.bin");
    EXPECT_EQ(written("empty.bat"),
              "@echo off\r\necho Please wait ...\r\ncopy _z._9 /b\r\nren _z._9 empty.bin\r\n"
              ":the_end\r\necho Process finished.");
}

TEST_F(RejoinScript, ElevenAndTwentyPiecesUseLettersAfterNine)
{
    usePieces(numberedPieces(11), "video.mkv");
    std::vector<std::string> lines = linesOf(written("video.bat"));
    const std::string join = lines[lines.size() - 15];
    EXPECT_EQ(join.rfind("copy _0._9 /b + _1._9 /b", 0), 0u) << join;
    EXPECT_NE(join.find(" + _9._9 /b + _a._9 /b _z._9 /b"), std::string::npos) << join;
    EXPECT_EQ(lines[lines.size() - 3], "del _a._9");
    EXPECT_EQ(lines[5 * 10], ":10");  // plain decimal labels
    EXPECT_EQ(lines[5 * 11 + 1 + 11], "ren p11 _a._9");

    usePieces(numberedPieces(20), "disk");
    lines = linesOf(written("disk.bat"));
    ASSERT_EQ(lines.size(), 1u + 5 * 20 + 1 + 20 + 2 + 20 + 2);
    for (int n = 1; n <= 20; ++n) {
        const std::string name = pieceLabel(n);
        EXPECT_EQ(lines[5 * (n - 1) + 1], "if exist " + name + " goto " + std::to_string(n));
        EXPECT_EQ(lines[5 * n], ":" + std::to_string(n));
    }
    EXPECT_EQ(lines[101 + 1], "ren p01 _0._9");
    EXPECT_EQ(lines[101 + 20], "ren p20 _j._9");
    EXPECT_EQ(lines[123], "ren _z._9 disk");  // a source name without a full stop
    EXPECT_EQ(lines[124], "del _0._9");
    EXPECT_EQ(lines[143], "del _j._9");
}

TEST_F(RejoinScript, ScriptNameReplacesTheLastExtension)
{
    const char *examples[][2] = {
        {"data.bin", "data.bat"}, {"archive.tar.gz", "archive.tar.bat"}, {"readme", "readme.bat"},
        {"name.", "name.bat"},    {".profile", ".profile.bat"},          {"x", "x.bat"},
    };
    for (auto &example : examples) {
        char name[99];
        ASSERT_EQ(makeScriptName(example[0], name, sizeof name), 1);
        EXPECT_STREQ(name, example[1]);
        usePieces({"p1"}, example[0]);
        EXPECT_EQ(writeRejoinScript(), 1) << example[0];
        EXPECT_STREQ(state.sourceName, example[1]);
        EXPECT_TRUE(fileExists(folder_ / example[1])) << example[1];
    }
    char small[8];
    EXPECT_EQ(makeScriptName("abcd.bin", small, sizeof small), 0);
    EXPECT_EQ(makeScriptName("abc.bin", small, sizeof small), 1);
    EXPECT_STREQ(small, "abc.bat");
}

TEST_F(RejoinScript, AnExistingScriptIsReplaced)
{
    writeFile(folder_ / "data.bat", std::string(5000, 'x'));
    usePieces({"piece01", "piece02"}, "data.bin");
    EXPECT_EQ(written("data.bat").size(), 380u);
}

TEST_F(RejoinScript, AScriptThatCannotBeCreatedIsReported)
{
    CreateDirectoryA((folder_ / "data.bat").c_str(), nullptr);  // a folder takes the name
    usePieces({"piece01"}, "data.bin");
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(writeRejoinScript(), 0);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error opening file");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, nullptr);
    char full[MAX_PATH];
    GetFullPathNameA("data.bat", sizeof full, full, nullptr);
    EXPECT_EQ(boxes[0].text, full);
    EXPECT_TRUE(folderExists(folder_ / "data.bat"));
}

TEST_F(RejoinScript, ASourceNamedLikeItsScriptIsNeverOverwritten)
{
    std::string source = folder_ / "data.bat";
    writeFile(source, "the user's own batch file");
    usePieces({"piece01"}, "data.bat");
    GetFullPathNameA("data.bat", sizeof state.sourceFullPath, state.sourceFullPath, nullptr);
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(writeRejoinScript(), 0);
    EXPECT_EQ(readFile(source), "the user's own batch file");
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error opening file");
    EXPECT_EQ(boxes[0].text, state.sourceFullPath);
}

// The script run for real by cmd.exe joins the pieces back into the source's bytes.
class RejoinRun : public RejoinScript {
protected:
    void splitAndJoin(const std::vector<size_t> &sizes, uint32_t seed)
    {
        std::string source = randomBytes([&] {
            size_t total = 0;
            for (size_t s : sizes) total += s;
            return total;
        }(), seed);
        std::vector<std::string> names;
        size_t at = 0;
        for (size_t i = 0; i < sizes.size(); ++i) {
            names.push_back(pieceLabel(int(i + 1)));
            writeFile(folder_ / names.back(), source.substr(at, sizes[i]));
            at += sizes[i];
        }
        usePieces(names, "source.dat");
        ASSERT_EQ(writeRejoinScript(), 1);

        BatchRun run = runBatch(folder_.path(), "source.bat");
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("Process finished."), std::string::npos) << run.output;
        ASSERT_TRUE(fileExists(folder_ / "source.dat")) << run.output;
        EXPECT_TRUE(readFile(folder_ / "source.dat") == source) << "joined bytes differ";
        for (size_t i = 0; i < sizes.size(); ++i) {
            char temporary[8] = {'_', char(i < 10 ? '0' + i : 'a' + i - 10), '.', '_', '9', 0};
            EXPECT_FALSE(fileExists(folder_ / temporary)) << temporary;
            EXPECT_FALSE(fileExists(folder_ / names[i])) << names[i];
        }
        EXPECT_FALSE(fileExists(folder_ / "_z._9"));
    }
};

TEST_F(RejoinRun, OnePiece)
{
    splitAndJoin({70000}, 1);
}

TEST_F(RejoinRun, TwoPieces)
{
    splitAndJoin({512, 33333}, 2);
}

TEST_F(RejoinRun, ElevenPiecesWithAnEmptyOne)
{
    splitAndJoin({1000, 2000, 0, 4096, 1, 7777, 512, 513, 9000, 100, 26}, 3);
}

TEST_F(RejoinRun, TwentyPieces)
{
    std::vector<size_t> sizes;
    for (int n = 0; n < 20; ++n) sizes.push_back(size_t(n == 13 ? 0 : 3000 + 517 * n));
    splitAndJoin(sizes, 4);
}

TEST_F(RejoinRun, AMissingPieceIsNamedAndNothingIsRenamed)
{
    std::vector<std::string> names = numberedPieces(3);
    writeFile(folder_ / names[0], "first");
    writeFile(folder_ / names[2], "third");
    usePieces(names, "source.dat");
    ASSERT_EQ(writeRejoinScript(), 1);

    BatchRun run = runBatch(folder_.path(), "source.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("In the folder is not exist file p02"), std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(folder_ / "p01"), "first");
    EXPECT_EQ(readFile(folder_ / "p03"), "third");
    EXPECT_FALSE(fileExists(folder_ / "_0._9"));
    EXPECT_FALSE(fileExists(folder_ / "_z._9"));
    EXPECT_FALSE(fileExists(folder_ / "source.dat"));
}
