#include <gtest/gtest.h>

#include <cstring>
#include <set>
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
        "if exist _0._9 goto busy\r\n"
        "if exist _1._9 goto busy\r\n"
        "if exist _z._9 goto busy\r\n"
        "ren piece01 _0._9\r\n"
        "ren piece02 _1._9\r\n"
        "if not exist _0._9 goto failed\r\n"
        "if not exist _1._9 goto failed\r\n"
        "if exist data.bin goto taken\r\n"
        "copy _0._9 /b + _1._9 /b _z._9 /b\r\n"
        "if errorlevel 1 goto failed\r\n"
        "ren _z._9 data.bin\r\n"
        "if not exist data.bin goto failed\r\n"
        "del _0._9\r\n"
        "del _1._9\r\n"
        "goto the_end\r\n"
        "\r\n"
        ":busy\r\n"
        "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"\r\n"
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
    EXPECT_EQ(script.size(), 946u);
    EXPECT_EQ(script, expected);
    EXPECT_EQ(linesOf(script).size(), 41u);
}

TEST_F(RejoinScript, OnePieceAndNoPiece)
{
    usePieces({"p1"}, "big.iso");
    EXPECT_EQ(written("big.bat"),
              "@echo off\r\nif exist p1 goto 1\r\ncmd /k \"echo In the folder is not exist file p1\"\r\n"
              "goto the_end\r\n\r\n:1\r\necho Please wait ...\r\nif exist _0._9 goto busy\r\n"
              "if exist _z._9 goto busy\r\nren p1 _0._9\r\nif not exist _0._9 goto failed\r\n"
              "if exist big.iso goto taken\r\ncopy _0._9 /b _z._9 /b\r\nif errorlevel 1 goto failed\r\n"
              "ren _z._9 big.iso\r\nif not exist big.iso goto failed\r\ndel _0._9\r\ngoto the_end\r\n\r\n"
              ":busy\r\ncmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"\r\n"
              "goto the_end\r\n\r\n:taken\r\necho A file big.iso is already in this folder\r\n:failed\r\n"
              "if exist _z._9 del _z._9\r\nren _0._9 p1\r\n"
              "cmd /k \"echo Joining failed: the pieces are kept under their own names\"\r\n"
              ":the_end\r\necho Process finished.");

    usePieces({}, "empty.bin");
    EXPECT_EQ(written("empty.bat"),
              "@echo off\r\necho Please wait ...\r\nif exist _z._9 goto busy\r\nif exist empty.bin goto taken\r\n"
              "copy _z._9 /b\r\nif errorlevel 1 goto failed\r\nren _z._9 empty.bin\r\n"
              "if not exist empty.bin goto failed\r\ngoto the_end\r\n\r\n:busy\r\n"
              "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"\r\n"
              "goto the_end\r\n\r\n:taken\r\necho A file empty.bin is already in this folder\r\n:failed\r\n"
              "if exist _z._9 del _z._9\r\n"
              "cmd /k \"echo Joining failed: the pieces are kept under their own names\"\r\n"
              ":the_end\r\necho Process finished.");
}

TEST_F(RejoinScript, ElevenAndTwentyPiecesUseLettersAfterNine)
{
    usePieces(numberedPieces(11), "video.mkv");
    std::string script = written("video.bat");
    EXPECT_EQ(script.size(), 2740u);
    EXPECT_EQ(linesOf(script).size(), 131u);
    const char *eleven[] = {
        "\r\n:10\r\nif exist p11 goto 11\r\n",  // plain decimal labels
        "\r\nif exist _9._9 goto busy\r\nif exist _a._9 goto busy\r\nif exist _z._9 goto busy\r\nren p01 _0._9\r\n",
        "\r\nren p11 _a._9\r\nif not exist _0._9 goto failed\r\n",
        "\r\nif not exist _a._9 goto failed\r\nif exist video.mkv goto taken\r\n"
        "copy _0._9 /b + _1._9 /b + _2._9 /b + _3._9 /b + _4._9 /b + _5._9 /b + _6._9 /b + _7._9 /b + _8._9 /b"
        " + _9._9 /b + _a._9 /b _z._9 /b\r\n",
        "\r\ndel _9._9\r\ndel _a._9\r\ngoto the_end\r\n",
        "\r\nren _a._9 p11\r\ncmd /k \"echo Joining failed",
    };
    for (const char *block : eleven) EXPECT_NE(script.find(block), std::string::npos) << block;

    usePieces(numberedPieces(20), "disk");
    script = written("disk.bat");
    EXPECT_EQ(script.size(), 4556u);
    EXPECT_EQ(linesOf(script).size(), 221u);
    const char *twenty[] = {
        "\r\n:19\r\nif exist p20 goto 20\r\ncmd /k \"echo In the folder is not exist file p20\"\r\n"
        "goto the_end\r\n\r\n:20\r\necho Please wait ...\r\nif exist _0._9 goto busy\r\n",
        "\r\nif exist _j._9 goto busy\r\nif exist _z._9 goto busy\r\n",
        "\r\nren p20 _j._9\r\nif not exist _0._9 goto failed\r\n",
        "\r\nif not exist _j._9 goto failed\r\nif exist disk goto taken\r\n",
        " + _i._9 /b + _j._9 /b _z._9 /b\r\nif errorlevel 1 goto failed\r\nren _z._9 disk\r\n"
        "if not exist disk goto failed\r\ndel _0._9\r\n",  // a source name without a full stop
        "\r\ndel _j._9\r\ngoto the_end\r\n",
        "\r\nif exist _z._9 del _z._9\r\nren _0._9 p01\r\n",
        "\r\nren _9._9 p10\r\nren _a._9 p11\r\n",
        "\r\nren _j._9 p20\r\ncmd /k \"echo Joining failed",
    };
    for (const char *block : twenty) EXPECT_NE(script.find(block), std::string::npos) << block;

    // Twenty names of the longest a piece can have (252 characters after "C:\") and the
    // longest source name still fit.
    std::vector<std::string> longest;
    for (const std::string &name : numberedPieces(20)) longest.push_back(name.substr(1) + std::string(250, 'a'));
    usePieces(longest, (std::string(90, 's') + ".bin").c_str());
    script = written(std::string(90, 's') + ".bat");
    EXPECT_EQ(script.size(), 24836u);
    EXPECT_EQ(script.substr(script.size() - 34), "\r\n:the_end\r\necho Process finished.");
}

TEST_F(RejoinScript, ScriptNameReplacesTheLastExtension)
{
    const char *examples[][2] = {
        {"data.bin", "data.bat"}, {"archive.tar.gz", "archive.tar.bat"}, {"readme", "readme.bat"},
        {"name.", "name.bat"},    {".profile", ".profile.bat"},          {"x", "x.bat"},
        // A script named like its source would be the source itself.
        {"run.bat", "run.bat.bat"}, {"RUN.Bat", "RUN.Bat.bat"},           {"run.bat.", "run.bat.bat"},
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
    EXPECT_EQ(written("data.bat").size(), 946u);
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
    EXPECT_NE(written("data.bat.bat").find("\r\nif exist data.bat goto taken\r\n"), std::string::npos);
    EXPECT_EQ(readFile(source), "the user's own batch file");
}

namespace {

// The names of the files in folder.
std::set<std::string> namesIn(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    std::set<std::string> names;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

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
        // The pieces went into the joined file; no temporary file stays.
        EXPECT_EQ(namesIn(folder_.path()), (std::set<std::string>{"source.bat", "source.dat"})) << run.output;
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

// A join that cannot be done stops before it touches a file it does not own, or puts
// every piece back under its own name.
TEST_F(RejoinRun, AnotherJoinsTemporaryFileOrAPieceThatCannotBeRenamedKeepsEverything)
{
    const std::string first = randomBytes(5000, 7), second = randomBytes(777, 8);
    writeFile(folder_ / "p01", first);
    writeFile(folder_ / "p02", second);
    usePieces(numberedPieces(2), "source.dat");
    ASSERT_EQ(writeRejoinScript(), 1);
    for (const char *stranger : {"_0._9", "_1._9", "_z._9"}) {
        writeFile(folder_ / stranger, "another join's");
        BatchRun run = runBatch(folder_.path(), "source.bat");
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("Joining stopped: this folder holds a temporary file _?._9 of another join"),
                  std::string::npos) << run.output;
        EXPECT_EQ(readFile(folder_ / stranger), "another join's");
        EXPECT_TRUE(readFile(folder_ / "p01") == first && readFile(folder_ / "p02") == second) << stranger;
        EXPECT_FALSE(fileExists(folder_ / "source.dat")) << stranger;
        ASSERT_TRUE(DeleteFileA((folder_ / stranger).c_str()));
    }

    // Held open without sharing by another program, p02 cannot be renamed.
    HANDLE held = CreateFileA((folder_ / "p02").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BatchRun run = runBatch(folder_.path(), "source.bat");
    CloseHandle(held);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining failed: the pieces are kept under their own names"), std::string::npos)
        << run.output;
    EXPECT_TRUE(readFile(folder_ / "p01") == first);
    EXPECT_TRUE(readFile(folder_ / "p02") == second);
    EXPECT_EQ(namesIn(folder_.path()), (std::set<std::string>{"p01", "p02", "source.bat"}));
}
