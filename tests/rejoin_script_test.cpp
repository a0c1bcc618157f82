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
        "if exist data.bin goto taken\r\n"
        "copy _0._9 /b + _1._9 /b _z._9 /b\r\n"
        "if errorlevel 1 goto failed\r\n"
        "ren _z._9 data.bin\r\n"
        "del _0._9\r\n"
        "del _1._9\r\n"
        "goto the_end\r\n"
        "\r\n"
        ":taken\r\n"
        "echo A file data.bin is already in this folder\r\n"
        ":failed\r\n"
        "if exist _z._9 del _z._9\r\n"
        "ren _0._9 piece01\r\n"
        "ren _1._9 piece02\r\n"
        "cmd /k \"echo Joining failed: the pieces are kept under their own names\"\r\n"
        ":the_end\r\n"
        "echo Process finished.";
    std::string script = written("data.bat");
    EXPECT_EQ(script.size(), 657u);
    EXPECT_EQ(script, expected);
    EXPECT_EQ(linesOf(script).size(), 31u);
}

TEST_F(RejoinScript, OnePieceAndNoPiece)
{
    usePieces({"p1"}, "big.iso");
    std::vector<std::string> one = linesOf(written("big.bat"));
    ASSERT_EQ(one.size(), 23u);
    EXPECT_EQ(one[7], "ren p1 _0._9");
    EXPECT_EQ(one[8], "if exist big.iso goto taken");
    EXPECT_EQ(one[9], "copy _0._9 /b _z._9 /b");
    EXPECT_EQ(one[10], "if errorlevel 1 goto failed");
    EXPECT_EQ(one[11], "ren _z._9 big.iso");
    EXPECT_EQ(one[12], "del _0._9");
    EXPECT_EQ(one[16], "echo A file big.iso is already in this folder");
    EXPECT_EQ(one[19], "ren _0._9 p1");

    usePieces({}, "empty.bin");
    EXPECT_EQ(written("empty.bat"),
              "@echo off\r\necho Please wait ...\r\nif exist empty.bin goto taken\r\ncopy _z._9 /b\r\n"
              "if errorlevel 1 goto failed\r\nren _z._9 empty.bin\r\ngoto the_end\r\n\r\n:taken\r\n"
              "echo A file empty.bin is already in this folder\r\n:failed\r\nif exist _z._9 del _z._9\r\n"
              "cmd /k \"echo Joining failed: the pieces are kept under their own names\"\r\n"
              ":the_end\r\necho Process finished.");
}

TEST_F(RejoinScript, ElevenAndTwentyPiecesUseLettersAfterNine)
{
    usePieces(numberedPieces(11), "video.mkv");
    std::vector<std::string> lines = linesOf(written("video.bat"));
    ASSERT_EQ(lines.size(), 103u);
    const std::string join = lines[69];
    EXPECT_EQ(join.rfind("copy _0._9 /b + _1._9 /b", 0), 0u) << join;
    EXPECT_NE(join.find(" + _9._9 /b + _a._9 /b _z._9 /b"), std::string::npos) << join;
    EXPECT_EQ(lines[82], "del _a._9");
    EXPECT_EQ(lines[5 * 10], ":10");  // plain decimal labels
    EXPECT_EQ(lines[5 * 11 + 1 + 11], "ren p11 _a._9");
    EXPECT_EQ(lines[99], "ren _a._9 p11");

    usePieces(numberedPieces(20), "disk");
    lines = linesOf(written("disk.bat"));
    ASSERT_EQ(lines.size(), 175u);
    for (int n = 1; n <= 20; ++n) {
        const std::string name = pieceLabel(n);
        EXPECT_EQ(lines[5 * (n - 1) + 1], "if exist " + name + " goto " + std::to_string(n));
        EXPECT_EQ(lines[5 * n], ":" + std::to_string(n));
    }
    EXPECT_EQ(lines[101 + 1], "ren p01 _0._9");
    EXPECT_EQ(lines[101 + 20], "ren p20 _j._9");
    EXPECT_EQ(lines[122], "if exist disk goto taken");
    EXPECT_EQ(lines[124], "if errorlevel 1 goto failed");
    EXPECT_EQ(lines[125], "ren _z._9 disk");  // a source name without a full stop
    EXPECT_EQ(lines[126], "del _0._9");
    EXPECT_EQ(lines[145], "del _j._9");
    EXPECT_EQ(lines[146], "goto the_end");
    EXPECT_EQ(lines[148], ":taken");
    EXPECT_EQ(lines[150], ":failed");
    EXPECT_EQ(lines[151], "if exist _z._9 del _z._9");
    EXPECT_EQ(lines[152], "ren _0._9 p01");
    EXPECT_EQ(lines[161], "ren _9._9 p10");
    EXPECT_EQ(lines[162], "ren _a._9 p11");
    EXPECT_EQ(lines[171], "ren _j._9 p20");
    EXPECT_EQ(lines[172], "cmd /k \"echo Joining failed: the pieces are kept under their own names\"");
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
    EXPECT_EQ(written("data.bat").size(), 657u);
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

TEST_F(RejoinRun, AFileNamedLikeTheSourceStopsTheJoinAndStays)
{
    const std::string first = randomBytes(5000, 5), second = randomBytes(777, 6);
    writeFile(folder_ / "p01", first);
    writeFile(folder_ / "p02", second);
    writeFile(folder_ / "source.dat", "the user's own file");
    usePieces(numberedPieces(2), "source.dat");
    ASSERT_EQ(writeRejoinScript(), 1);

    BatchRun run = runBatch(folder_.path(), "source.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("A file source.dat is already in this folder"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Joining failed: the pieces are kept under their own names"), std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(folder_ / "source.dat"), "the user's own file");
    EXPECT_TRUE(readFile(folder_ / "p01") == first);
    EXPECT_TRUE(readFile(folder_ / "p02") == second);
    for (const char *temporary : {"_0._9", "_1._9", "_z._9"}) EXPECT_FALSE(fileExists(folder_ / temporary)) << temporary;

    // With that file moved away, the same script joins.
    ASSERT_TRUE(DeleteFileA((folder_ / "source.dat").c_str()));
    run = runBatch(folder_.path(), "source.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_TRUE(readFile(folder_ / "source.dat") == first + second) << run.output;
    EXPECT_EQ(run.output.find("Joining failed"), std::string::npos) << run.output;
    EXPECT_FALSE(fileExists(folder_ / "p01"));
    EXPECT_FALSE(fileExists(folder_ / "p02"));
}
