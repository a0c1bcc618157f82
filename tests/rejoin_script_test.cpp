#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "split/names.h"
#include "split/rejoin_script.h"
#include "split/source.h"
#include "support/batch.h"
#include "support/certutil.h"
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

// Lines with CR LF between them and none after the last, as the script holds them.
std::string scriptLines(std::initializer_list<const char *> lines)
{
    std::string text;
    bool first = true;
    for (const char *line : lines) {
        if (!first) text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

class RejoinScript : public SplitFixture {
protected:
    void SetUp() override
    {
        SplitFixture::SetUp();
        SetCurrentDirectoryA(folder_.path().c_str());
    }

    // The pieces as the writer leaves them: names in pieceNames, sizes in their identities,
    // the SHA-1 of each piece that is in the current folder.
    void usePieces(const std::vector<std::string> &names, const char *source, const std::vector<uint64_t> &sizes)
    {
        ASSERT_EQ(names.size(), sizes.size());
        std::string list;
        for (size_t n = 0; n < names.size(); ++n) {
            list += names[n] + " ";
            state.pieceIdentities[n].sizeHigh = DWORD(sizes[n] >> 32);
            state.pieceIdentities[n].sizeLow = DWORD(sizes[n]);
            state.pieceIdentities[n].known = 1;
            state.pieceHashes[n].known = fileExists(names[n]) && sha1Of(readFile(names[n]), state.pieceHashes[n].bytes);
        }
        strcpy(state.pieceNames, list.c_str());
        state.pieceCount = uint32_t(names.size());
        strcpy(state.sourceName, source);
    }

    // Writes the script and returns its text as it stands on disk; the usual name is
    // taken without a word.
    std::string written(const std::string &scriptName)
    {
        BoxAnswerer answerer({IDOK});
        EXPECT_EQ(writeRejoinScript(), 1);
        EXPECT_EQ(answerer.count(), 0u);
        return readFile(folder_ / scriptName);
    }

    TempFolder folder_;
};

}  // namespace

void setHash(int n, const char *hex)
{
    for (int i = 0; i < 20; ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        state.pieceHashes[n].bytes[i] = BYTE(strtoul(pair, nullptr, 16));
    }
    state.pieceHashes[n].known = 1;
}

TEST_F(RejoinScript, TwoPiecesGiveTheExactScript)
{
    usePieces({"piece01", "piece02"}, "data.bin", {1000000, 500000});
    setHash(0, "a9993e364706816aba3e25717850c26c9cd0d89d");
    setHash(1, "0A4D55A8D778E5022FAB701977C5D840BBC486D0");
    const std::string expected = scriptLines({
        "@echo off",
        "setlocal EnableExtensions DisableDelayedExpansion",
        "pushd \"%~dp0\" || goto outside",
        "if not exist \"%~nx0\" goto elsewhere",
        ":again",
        "for %%s in (piece01) do if \"%%~zs\"==\"1000000\" goto 1",
        "for %%s in (_0._9) do if \"%%~zs\"==\"1000000\" goto interrupted",
        "cmd /k \"echo In the folder is not exist file piece01 of 1000000 bytes\"",
        "goto the_end",
        "",
        ":1",
        "for %%s in (piece02) do if \"%%~zs\"==\"500000\" goto 2",
        "for %%s in (_1._9) do if \"%%~zs\"==\"500000\" goto interrupted",
        "cmd /k \"echo In the folder is not exist file piece02 of 500000 bytes\"",
        "goto the_end",
        "",
        ":2",
        "echo Checking the pieces ...",
        "set ku=",
        "call :sha1 piece01",
        "if not defined kh goto unchecked",
        "if /i not \"%kh%\"==\"a9993e364706816aba3e25717850c26c9cd0d89d\" goto damaged",
        "call :sha1 piece02",
        "if /i not \"%kh%\"==\"0a4d55a8d778e5022fab701977c5d840bbc486d0\" goto damaged",
        "goto checked",
        "",
        ":unchecked",
        "set ku=1",
        "echo The contents of the pieces cannot be checked on this Windows, only their sizes: the pieces will be kept.",
        ":checked",
        "echo Please wait ...",
        "if exist _0._9 goto busy",
        "if exist _1._9 goto busy",
        "if exist _z._9 goto leftover",
        "ren piece01 _0._9",
        "ren piece02 _1._9",
        "if not exist _0._9 goto failed",
        "if not exist _1._9 goto failed",
        "if exist data.bin goto taken",
        "copy _0._9 /b + _1._9 /b _z._9 /b",
        "if errorlevel 1 goto failed",
        "for %%s in (_z._9) do if not \"%%~zs\"==\"1500000\" goto failed",
        "ren _z._9 data.bin",
        "if exist _z._9 goto failed",
        "if not exist data.bin goto failed",
        "if defined ku goto kept",
        "del /f _0._9",
        "del /f _1._9",
        "goto the_end",
        "",
        ":interrupted",
        "echo An earlier join of these pieces was stopped and left them renamed.",
        "set kr=",
        "set /p kr=If no other join of them is running now, type Y and Enter to give them their names back: ",
        "call :yes",
        "if not defined kr goto unanswered",
        "if exist _0._9 if not exist piece01 ren _0._9 piece01",
        "if exist _1._9 if not exist piece02 ren _1._9 piece02",
        "if exist _z._9 del /f _z._9",
        "goto again",
        "",
        ":leftover",
        "echo An earlier join of these pieces was stopped and left its unfinished joined file _z._9.",
        "set kr=",
        "set /p kr=If no other join of them is running now, type Y and Enter to delete _z._9: ",
        "call :yes",
        "if not defined kr goto unanswered",
        "del /f _z._9",
        "goto checked",
        "",
        ":unanswered",
        "cmd /k \"echo Joining stopped: every file is left as it was\"",
        "goto the_end",
        "",
        ":damaged",
        "cmd /k \"echo Joining stopped: %kp% cannot be read or does not hold the bytes it was written with. Every piece is kept.\"",
        "goto the_end",
        "",
        ":elsewhere",
        "cmd /k \"echo Joining stopped: the script cannot find its own folder\"",
        "goto the_end",
        "",
        ":busy",
        "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"",
        "goto the_end",
        "",
        ":kept",
        "call :back",
        "cmd /k \"echo data.bin is joined on the sizes of its pieces alone, as this Windows cannot check their contents. The pieces are kept.%kb%\"",
        "goto the_end",
        "",
        ":taken",
        "echo A file data.bin is already in this folder",
        ":failed",
        "if exist _z._9 del /f _z._9",
        "call :back",
        "if defined kb cmd /k \"echo Joining failed:%kb% Every piece is kept.\"",
        "if not defined kb cmd /k \"echo Joining failed: the pieces are kept under their own names\"",
        ":the_end",
        "popd",
        "echo Process finished.",
        "goto :eof",
        "",
        ":outside",
        "cmd /k \"echo Joining stopped: the script cannot go into its own folder\"",
        "goto :eof",
        "",
        ":back",
        "set kb=",
        "ren _0._9 piece01",
        "ren _1._9 piece02",
        "if exist _0._9 set \"kb= piece01 is in use and still named _0._9.\"",
        "if exist _1._9 set \"kb= piece02 is in use and still named _1._9.\"",
        "goto :eof",
        "",
        ":yes",
        "setlocal EnableDelayedExpansion",
        "if /i not \"!kr!\"==\"Y\" set kr=",
        "endlocal & set \"kr=%kr%\"",
        "goto :eof",
        "",
        ":sha1",
        "set kh=",
        "set kp=%1",
        "set \"kf=%~f1\"",
        "for /f \"delims=\" %%h in ('\"\"%SystemRoot%\\System32\\certutil.exe\" -hashfile \"%%kf%%\" 2>nul\"') do if not defined kh set \"kl=%%h\" & call :hexline",
        "goto :eof",
        "",
        ":hexline",
        "setlocal EnableDelayedExpansion",
        "set \"kl=#!kl: =!\"",
        "set \"kc=!kl:0=!\" & set \"kc=!kc:1=!\" & set \"kc=!kc:2=!\" & set \"kc=!kc:3=!\" & set \"kc=!kc:4=!\" & set \"kc=!kc:5=!\" & set \"kc=!kc:6=!\" & set \"kc=!kc:7=!\"",
        "set \"kc=!kc:8=!\" & set \"kc=!kc:9=!\" & set \"kc=!kc:a=!\" & set \"kc=!kc:b=!\" & set \"kc=!kc:c=!\" & set \"kc=!kc:d=!\" & set \"kc=!kc:e=!\" & set \"kc=!kc:f=!\"",
        "if not \"!kc!\"==\"#\" goto :eof",
        "if not \"!kl:~0,41!\"==\"!kl!\" goto :eof",
        "if \"!kl:~0,40!\"==\"!kl!\" goto :eof",
        "endlocal & set \"kh=%kl:~1%\"",
        "goto :eof",
    });
    std::string script = written("data.bat");
    EXPECT_EQ(script.size(), 4208u);
    EXPECT_EQ(script, expected);
    EXPECT_EQ(linesOf(script).size(), 138u);

    // A hash the platform could not give: the sizes alone are checked, and the script says so.
    ASSERT_TRUE(DeleteFileA((folder_ / "data.bat").c_str()));
    state.pieceHashes[1].known = 0;
    script = written("data.bat");
    const size_t checks = expected.find("\r\ncall :sha1"), checked = expected.find("\r\n\r\n:unchecked");
    EXPECT_EQ(script, expected.substr(0, checks) + "\r\ngoto unchecked" + expected.substr(checked));
}

TEST_F(RejoinScript, OnePieceAndNoPiece)
{
    // Sizes are compared as text, up to the twenty digits of the largest count.
    usePieces({"p1"}, "big.iso", {18446744073709551615ull});
    // The same for every split: the answer's test, certutil's call and the test of its lines.
    const std::string sharedTail = scriptLines({
        "", "", ":yes", "setlocal EnableDelayedExpansion", "if /i not \"!kr!\"==\"Y\" set kr=",
        "endlocal & set \"kr=%kr%\"", "goto :eof", "", ":sha1", "set kh=", "set kp=%1", "set \"kf=%~f1\"",
        "for /f \"delims=\" %%h in ('\"\"%SystemRoot%\\System32\\certutil.exe\" -hashfile \"%%kf%%\" 2>nul\"') do if "
        "not defined kh set \"kl=%%h\" & call :hexline",
        "goto :eof", "", ":hexline", "setlocal EnableDelayedExpansion", "set \"kl=#!kl: =!\"",
        "set \"kc=!kl:0=!\" & set \"kc=!kc:1=!\" & set \"kc=!kc:2=!\" & set \"kc=!kc:3=!\" & set \"kc=!kc:4=!\" & "
        "set \"kc=!kc:5=!\" & set \"kc=!kc:6=!\" & set \"kc=!kc:7=!\"",
        "set \"kc=!kc:8=!\" & set \"kc=!kc:9=!\" & set \"kc=!kc:a=!\" & set \"kc=!kc:b=!\" & set \"kc=!kc:c=!\" & "
        "set \"kc=!kc:d=!\" & set \"kc=!kc:e=!\" & set \"kc=!kc:f=!\"",
        "if not \"!kc!\"==\"#\" goto :eof", "if not \"!kl:~0,41!\"==\"!kl!\" goto :eof",
        "if \"!kl:~0,40!\"==\"!kl!\" goto :eof", "endlocal & set \"kh=%kl:~1%\"", "goto :eof"});
    EXPECT_EQ(written("big.bat"),
              scriptLines({"@echo off", "setlocal EnableExtensions DisableDelayedExpansion",
                           "pushd \"%~dp0\" || goto outside", "if not exist \"%~nx0\" goto elsewhere", ":again",
                           "for %%s in (p1) do if \"%%~zs\"==\"18446744073709551615\" goto 1",
                           "for %%s in (_0._9) do if \"%%~zs\"==\"18446744073709551615\" goto interrupted",
                           "cmd /k \"echo In the folder is not exist file p1 of 18446744073709551615 bytes\"",
                           "goto the_end", "", ":1", "echo Checking the pieces ...", "set ku=",
                           "goto unchecked",  // p1 was not there to be hashed
                           "", ":unchecked", "set ku=1",
                           "echo The contents of the pieces cannot be checked on this Windows, only their sizes: "
                           "the pieces will be kept.",
                           ":checked", "echo Please wait ...", "if exist _0._9 goto busy",
                           "if exist _z._9 goto leftover", "ren p1 _0._9", "if not exist _0._9 goto failed",
                           "if exist big.iso goto taken", "copy _0._9 /b _z._9 /b", "if errorlevel 1 goto failed",
                           // as some interpreters show the size of a file of 4 GiB or more
                           "for %%s in (_z._9) do if not \"%%~zs\"==\"18446744073709551615\" "
                           "if not \"%%~zs\"==\"4294967295\" goto failed",
                           "ren _z._9 big.iso", "if exist _z._9 goto failed", "if not exist big.iso goto failed",
                           "if defined ku goto kept", "del /f _0._9", "goto the_end", "", ":interrupted",
                           "echo An earlier join of these pieces was stopped and left them renamed.", "set kr=",
                           "set /p kr=If no other join of them is running now, type Y and Enter to give them their "
                           "names back: ",
                           "call :yes", "if not defined kr goto unanswered", "if exist _0._9 if not exist p1 ren _0._9 p1",
                           "if exist _z._9 del /f _z._9", "goto again", "", ":leftover",
                           "echo An earlier join of these pieces was stopped and left its unfinished joined file "
                           "_z._9.",
                           "set kr=", "set /p kr=If no other join of them is running now, type Y and Enter to delete _z._9: ",
                           "call :yes", "if not defined kr goto unanswered", "del /f _z._9", "goto checked", "",
                           ":unanswered", "cmd /k \"echo Joining stopped: every file is left as it was\"",
                           "goto the_end", "", ":damaged",
                           "cmd /k \"echo Joining stopped: %kp% cannot be read or does not hold the bytes it was "
                           "written with. Every piece is kept.\"",
                           "goto the_end", "", ":elsewhere",
                           "cmd /k \"echo Joining stopped: the script cannot find its own folder\"", "goto the_end",
                           "", ":busy",
                           "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"",
                           "goto the_end", "", ":kept", "call :back",
                           "cmd /k \"echo big.iso is joined on the sizes of its pieces alone, as this Windows cannot "
                           "check their contents. The pieces are kept.%kb%\"",
                           "goto the_end", "", ":taken", "echo A file big.iso is already in this folder", ":failed",
                           "if exist _z._9 del /f _z._9", "call :back",
                           "if defined kb cmd /k \"echo Joining failed:%kb% Every piece is kept.\"",
                           "if not defined kb cmd /k \"echo Joining failed: the pieces are kept under their own names\"",
                           ":the_end", "popd", "echo Process finished.", "goto :eof", "", ":outside",
                           "cmd /k \"echo Joining stopped: the script cannot go into its own folder\"", "goto :eof",
                           "", ":back", "set kb=", "ren _0._9 p1",
                           "if exist _0._9 set \"kb= p1 is in use and still named _0._9.\"", "goto :eof"}) +
                  sharedTail);

    // No piece, or only empty ones: no bytes to check.
    const std::string emptyChecks = "\r\necho Checking the pieces ...\r\nset ku=\r\ngoto checked\r\n\r\n:unchecked\r\n";
    usePieces({}, "empty.bin", {});
    std::string script = written("empty.bat");
    EXPECT_EQ(script.find(scriptLines({"@echo off", "setlocal EnableExtensions DisableDelayedExpansion",
                                        "pushd \"%~dp0\" || goto outside", "if not exist \"%~nx0\" goto elsewhere",
                                        ":again"}) + emptyChecks),
              0u);
    EXPECT_NE(script.find("\r\n:checked\r\necho Please wait ...\r\nif exist _z._9 goto leftover\r\n"
                          "if exist empty.bin goto taken\r\ncopy _z._9 /b\r\n"),
              std::string::npos);
    EXPECT_NE(script.find("\r\n:interrupted\r\n"), std::string::npos);
    EXPECT_NE(script.find(emptyChecks), std::string::npos);

    // The one piece of an empty source is not hashed, and certutil is not asked about it.
    ASSERT_TRUE(DeleteFileA((folder_ / "empty.bat").c_str()));
    writeFile(folder_ / "p1", "");
    usePieces({"p1"}, "empty.bin", {0});
    script = written("empty.bat");
    EXPECT_NE(script.find("\r\n:1" + emptyChecks), std::string::npos);
    EXPECT_EQ(script.find("call :sha1 p1"), std::string::npos);
}

TEST_F(RejoinScript, ElevenAndTwentyPiecesUseLettersAfterNine)
{
    usePieces(numberedPieces(11), "video.mkv",
              {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000});
    std::string script = written("video.bat");
    EXPECT_EQ(script.size(), 7654u);
    EXPECT_EQ(linesOf(script).size(), 250u);
    const char *eleven[] = {
        // plain decimal labels
        "\r\n:10\r\nfor %%s in (p11) do if \"%%~zs\"==\"11000\" goto 11\r\n"
        "for %%s in (_a._9) do if \"%%~zs\"==\"11000\" goto interrupted\r\ncmd /k \"echo In the folder is not exist file p11 of 11000 bytes\"\r\n",
        "\r\nif exist _9._9 goto busy\r\nif exist _a._9 goto busy\r\nif exist _z._9 goto leftover\r\nren p01 _0._9\r\n",
        "\r\nren p11 _a._9\r\nif not exist _0._9 goto failed\r\n",
        "\r\nif not exist _a._9 goto failed\r\nif exist video.mkv goto taken\r\n"
        "copy _0._9 /b + _1._9 /b + _2._9 /b + _3._9 /b + _4._9 /b + _5._9 /b + _6._9 /b + _7._9 /b + _8._9 /b"
        " + _9._9 /b + _a._9 /b _z._9 /b\r\nif errorlevel 1 goto failed\r\n"
        "for %%s in (_z._9) do if not \"%%~zs\"==\"66000\" goto failed\r\n",
        "\r\ndel /f _9._9\r\ndel /f _a._9\r\ngoto the_end\r\n",
        "\r\nren _a._9 p11\r\nif exist _0._9 set \"kb= p01 is in use and still named _0._9.\"\r\n",
        "\r\nif exist _a._9 set \"kb= p11 is in use and still named _a._9.\"\r\ngoto :eof\r\n",
        "\r\nif exist _9._9 if not exist p10 ren _9._9 p10\r\nif exist _a._9 if not exist p11 ren _a._9 p11\r\n"
        "if exist _z._9 del /f _z._9\r\ngoto again\r\n",
    };
    for (const char *block : eleven) EXPECT_NE(script.find(block), std::string::npos) << block;

    // The largest pieces the window lets the user ask for: the joined size passes 2^32.
    usePieces(numberedPieces(20), "disk", std::vector<uint64_t>(20, 999999999));
    for (int n = 0; n < 20; ++n) setHash(n, "00112233445566778899aabbccddeeff0011223f");
    setHash(19, "ffeeddccbbaa99887766554433221100ffeeddc0");
    script = written("disk.bat");
    EXPECT_EQ(script.size(), 13554u);
    EXPECT_EQ(linesOf(script).size(), 408u);
    const char *twenty[] = {
        "\r\n:19\r\nfor %%s in (p20) do if \"%%~zs\"==\"999999999\" goto 20\r\n"
        "for %%s in (_j._9) do if \"%%~zs\"==\"999999999\" goto interrupted\r\ncmd /k \"echo In the folder is not exist file p20 of 999999999 bytes\"\r\n"
        "goto the_end\r\n\r\n:20\r\necho Checking the pieces ...\r\nset ku=\r\ncall :sha1 p01\r\n"
        "if not defined kh goto unchecked\r\nif /i not \"%kh%\"==\"00112233445566778899aabbccddeeff0011223f\" goto damaged\r\n"
        "call :sha1 p02\r\n",
        "\r\ncall :sha1 p20\r\nif /i not \"%kh%\"==\"ffeeddccbbaa99887766554433221100ffeeddc0\" goto damaged\r\n"
        "goto checked\r\n\r\n:unchecked\r\n",
        ":checked\r\necho Please wait ...\r\nif exist _0._9 goto busy\r\n",
        "\r\nif exist _j._9 goto busy\r\nif exist _z._9 goto leftover\r\n",
        "\r\nren p20 _j._9\r\nif not exist _0._9 goto failed\r\n",
        "\r\nif not exist _j._9 goto failed\r\nif exist disk goto taken\r\n",
        " + _i._9 /b + _j._9 /b _z._9 /b\r\nif errorlevel 1 goto failed\r\n"
        "for %%s in (_z._9) do if not \"%%~zs\"==\"19999999980\" if not \"%%~zs\"==\"2820130796\" goto failed\r\n"
        "ren _z._9 disk\r\n"
        "if exist _z._9 goto failed\r\nif not exist disk goto failed\r\nif defined ku goto kept\r\ndel /f _0._9\r\n",  // no full stop
        "\r\ndel /f _j._9\r\ngoto the_end\r\n",
        "\r\nif exist _z._9 del /f _z._9\r\ncall :back\r\n",
        "\r\n:back\r\nset kb=\r\nren _0._9 p01\r\n",
        "\r\nren _9._9 p10\r\nren _a._9 p11\r\n",
        "\r\nren _j._9 p20\r\nif exist _0._9 set \"kb= p01 is in use and still named _0._9.\"\r\n",
    };
    for (const char *block : twenty) EXPECT_NE(script.find(block), std::string::npos) << block;

    // Twenty names longer than a piece can have (252 characters), their hashes and the
    // longest source name still fit, in a script longer than 32,000 bytes.
    std::vector<std::string> longest;
    for (const std::string &name : numberedPieces(20)) longest.push_back(name.substr(1) + std::string(250, 'a'));
    usePieces(longest, (std::string(90, 's') + ".bin").c_str(), std::vector<uint64_t>(20, 999999999));
    for (int n = 0; n < 20; ++n) setHash(n, "00112233445566778899aabbccddeeff0011223f");
    script = written(std::string(90, 's') + ".bat");
    EXPECT_EQ(script.size(), 53844u);
    EXPECT_EQ(script.substr(script.size() - 40), "\r\nendlocal & set \"kh=%kl:~1%\"\r\ngoto :eof");
    EXPECT_NE(script.find("\r\ncmd /k \"echo " + std::string(90, 's') + ".bin is joined on the sizes of its pieces "
                          "alone, as this Windows cannot check their contents. The pieces are kept.%kb%\"\r\n"),
              std::string::npos);
    EXPECT_NE(script.find("\r\n:taken\r\necho A file " + std::string(90, 's') + ".bin is already in this folder\r\n"),
              std::string::npos);
    EXPECT_NE(script.find("\r\ncall :sha1 " + longest[19] + "\r\n"), std::string::npos);
    size_t longestLine = 0;
    for (const std::string &line : linesOf(script)) longestLine = std::max(longestLine, line.size());
    EXPECT_EQ(longestLine, 543u);  // Windows 2000 takes at most 2047
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
        ASSERT_EQ(makeScriptName(example[0], 1, name, sizeof name), 1);
        EXPECT_STREQ(name, example[1]);
        usePieces({"p1"}, example[0], {1});
        written(example[1]);
        EXPECT_TRUE(DeleteFileA((folder_ / example[1]).c_str())) << example[1];
    }
    char small[8];
    EXPECT_EQ(makeScriptName("abcd.bin", 1, small, sizeof small), 0);
    EXPECT_EQ(makeScriptName("abc.bin", 1, small, sizeof small), 1);
    EXPECT_STREQ(small, "abc.bat");
    // Later tries put their number before ".bat", where it must fit too.
    EXPECT_EQ(makeScriptName("abc.bin", 10, small, sizeof small), 0);
    char numbered[99];
    ASSERT_EQ(makeScriptName("run.bat", 99, numbered, sizeof numbered), 1);
    EXPECT_STREQ(numbered, "run.bat_99.bat");
    ASSERT_EQ(makeScriptName("data.bin", 2, numbered, sizeof numbered), 1);
    EXPECT_STREQ(numbered, "data_2.bat");
}

// A file of the script's name (the user's own, or the joiner of another split of a source
// of the same stem) is kept; the pieces get the first free name and a notice names it.
TEST_F(RejoinScript, AFileOfTheScriptsNameIsKeptAndTheScriptTakesTheNextFreeName)
{
    const std::string own = std::string(5000, 'x');
    writeFile(folder_ / "data.bat", own);
    SetFileAttributesA((folder_ / "data.bat").c_str(), FILE_ATTRIBUTE_READONLY);
    const char *expectedNames[] = {"data_2.bat", "data_3.bat"};
    for (const char *expectedName : expectedNames) {
        usePieces({"piece01", "piece02"}, "data.bin", {1000000, 500000});
        BoxAnswerer answerer({IDOK});
        ASSERT_EQ(writeRejoinScript(), 1);
        auto boxes = answerer.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_EQ(boxes[0].caption, "Kestrand");
        EXPECT_EQ(boxes[0].icon, UINT(MB_ICONINFORMATION));
        EXPECT_EQ(boxes[0].text,
                  "The joining script is " + (folder_ / expectedName) + ", as a file data.bat was already in this folder.");
        EXPECT_EQ(readFile(folder_ / expectedName).size(), 3986u);  // no piece there to hash
        EXPECT_EQ(readFile(folder_ / "data.bat"), own);
    }
    // The longest source name without a full stop: its second name is longer than sourceName holds.
    const std::string stem(94, 'n');
    writeFile(folder_ / (stem + ".bat"), "taken");
    usePieces({"piece01"}, stem.c_str(), {7});
    BoxAnswerer answerer({IDOK});
    ASSERT_EQ(writeRejoinScript(), 1);
    EXPECT_EQ(answerer.count(), 1u);
    EXPECT_NE(readFile(folder_ / (stem + "_2.bat")).find("\r\nren _z._9 " + stem + "\r\n"), std::string::npos);
    EXPECT_EQ(readFile(folder_ / (stem + ".bat")), "taken");
}

// Every free name taken, a folder among them: nothing is replaced and the user is told
// that the pieces have no joiner.
TEST_F(RejoinScript, EveryNameTakenIsSaidAndNothingReplaced)
{
    CreateDirectoryA((folder_ / "data.bat").c_str(), nullptr);
    for (int n = 2; n <= 99; ++n) writeFile(folder_ / ("data_" + std::to_string(n) + ".bat"), std::to_string(n));
    usePieces({"piece01"}, "data.bin", {1});
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(writeRejoinScript(), 0);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONWARNING));
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, "No joining script was written: data.bat to data_99.bat are all taken in " +
                                 folder_.path() + ". The pieces are kept.");
    EXPECT_TRUE(folderExists(folder_ / "data.bat"));
    for (int n = 2; n <= 99; ++n)
        EXPECT_EQ(readFile(folder_ / ("data_" + std::to_string(n) + ".bat")), std::to_string(n));
    EXPECT_FALSE(fileExists(folder_ / "data_100.bat"));
}

TEST_F(RejoinScript, ASourceNamedLikeItsScriptIsNeverOverwritten)
{
    std::string source = folder_ / "data.bat";
    writeFile(source, "the user's own batch file");
    usePieces({"piece01"}, "data.bat", {1});
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

// Every file in folder with its bytes.
std::map<std::string, std::string> filesIn(const std::string &folder)
{
    std::map<std::string, std::string> files;
    for (const std::string &name : namesIn(folder)) files[name] = readFile(folder + "\\" + name);
    return files;
}

// The script run for real by cmd.exe joins the pieces back into the source's bytes.
class RejoinRun : public RejoinScript {
protected:
    // Cuts random bytes into pieces of these sizes in folder and writes their script there,
    // for the source "source.dat"; returns the source's bytes.
    std::string cutAndScript(const std::string &folder, const std::vector<std::string> &names,
                             const std::vector<size_t> &sizes, uint32_t seed)
    {
        size_t total = 0;
        for (size_t size : sizes) total += size;
        std::string source = randomBytes(total, seed);
        size_t at = 0;
        for (size_t i = 0; i < sizes.size(); ++i) {
            writeFile(folder + "\\" + names[i], source.substr(at, sizes[i]));
            at += sizes[i];
        }
        SetCurrentDirectoryA(folder.c_str());
        usePieces(names, "source.dat", std::vector<uint64_t>(sizes.begin(), sizes.end()));
        EXPECT_EQ(writeRejoinScript(), 1);
        return source;
    }

    void expectJoined(const std::string &folder, const std::string &source, const BatchRun &run)
    {
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("Process finished."), std::string::npos) << run.output;
        ASSERT_TRUE(fileExists(folder + "\\source.dat")) << run.output;
        EXPECT_TRUE(readFile(folder + "\\source.dat") == source) << "joined bytes differ";
        // The pieces went into the joined file; no temporary file stays.
        EXPECT_EQ(namesIn(folder), (std::set<std::string>{"source.bat", "source.dat"})) << run.output;
    }

    // Joined on the sizes alone: the joined file whole, and every file that was there
    // before (the pieces) under its own name with its own bytes, as the window says.
    void expectJoinedAndKept(const std::string &folder, const std::string &source, const BatchRun &run,
                             const std::map<std::string, std::string> &before)
    {
        ASSERT_TRUE(run.finished) << run.output;
        auto expected = before;
        expected["source.dat"] = source;
        EXPECT_TRUE(filesIn(folder) == expected) << run.output;
        EXPECT_NE(run.output.find("The contents of the pieces cannot be checked on this Windows, only their sizes: "
                                  "the pieces will be kept."),
                  std::string::npos) << run.output;
        EXPECT_NE(run.output.find("source.dat is joined on the sizes of its pieces alone, as this Windows cannot "
                                  "check their contents. The pieces are kept.\r\n"),
                  std::string::npos) << run.output;
    }

    // certutil answering in the given form; "none" joins on the sizes alone.
    void splitAndJoin(const std::vector<size_t> &sizes, uint32_t seed, const char *form)
    {
        CertutilAnswers certutil(form);
        ASSERT_TRUE(certutil.installed());
        std::vector<std::string> names = numberedPieces(int(sizes.size()));
        std::string source = cutAndScript(folder_.path(), names, sizes, seed);
        const auto before = filesIn(folder_.path());
        BatchRun run = runBatch(folder_.path(), "source.bat", "exit\r\n", 300000);
        if (strcmp(form, "none") == 0)
            expectJoinedAndKept(folder_.path(), source, run, before);
        else
            expectJoined(folder_.path(), source, run);
    }
};

TEST_F(RejoinRun, OnePiece)
{
    splitAndJoin({70000}, 1, "unbroken");
}

TEST_F(RejoinRun, TwoPieces)
{
    splitAndJoin({512, 33333}, 2, "spaced");
}

// Where certutil cannot tell (Windows 2000 and XP, a certutil blocked by policy, Wine's
// own), the pieces are joined on their sizes and every one is kept.
TEST_F(RejoinRun, ElevenPiecesWithAnEmptyOneJoinedOnTheirSizesAreKept)
{
    splitAndJoin({1000, 2000, 0, 4096, 1, 7777, 512, 513, 9000, 100, 26}, 3, "none");
}

// certutil's answer is the first line that, without blanks, is 40 hex digits: after
// another program's line the pieces are checked and joined; a certutil without -hashfile
// answers none, and neither does a certutil.bat beside the pieces, which never runs. A
// later piece without an answer (held by another program) stops the join, named.
TEST_F(RejoinRun, CertutilsAnswerIsTheFirstLineOfFortyHexDigits)
{
    CertutilAnswers certutil("preceded");
    ASSERT_TRUE(certutil.installed());
    std::string source = cutAndScript(folder_.path(), numberedPieces(2), {5000, 777}, 21);
    expectJoined(folder_.path(), source, runBatch(folder_.path(), "source.bat", "exit\r\n", 300000));

    certutil.answer("usage");
    ASSERT_TRUE(DeleteFileA((folder_ / "source.dat").c_str()));
    ASSERT_TRUE(DeleteFileA((folder_ / "source.bat").c_str()));
    source = cutAndScript(folder_.path(), numberedPieces(2), {5000, 777}, 22);
    auto before = filesIn(folder_.path());
    expectJoinedAndKept(folder_.path(), source, runBatch(folder_.path(), "source.bat", "exit\r\n", 300000), before);

    certutil.answer("none");
    ASSERT_TRUE(DeleteFileA((folder_ / "source.dat").c_str()));
    writeFile(folder_ / "certutil.bat", "@echo SHA1 hash of %2:\r\n@echo 00112233445566778899aabbccddeeff00112233\r\n");
    before = filesIn(folder_.path());
    expectJoinedAndKept(folder_.path(), source, runBatch(folder_.path(), "source.bat", "exit\r\n", 300000), before);
    ASSERT_TRUE(DeleteFileA((folder_ / "certutil.bat").c_str()));
    ASSERT_TRUE(DeleteFileA((folder_ / "source.dat").c_str()));

    certutil.answer("unbroken");
    before = filesIn(folder_.path());
    HANDLE held = CreateFileA((folder_ / "p02").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BatchRun run = runBatch(folder_.path(), "source.bat", "exit\r\n", 300000);
    CloseHandle(held);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining stopped: p02 cannot be read or does not hold the bytes it was written with. "
                              "Every piece is kept."),
              std::string::npos) << run.output;
    EXPECT_TRUE(filesIn(folder_.path()) == before) << run.output;
}

// Twenty pieces with the longest names their folder takes, in a folder at a drive's root.
TEST_F(RejoinRun, TwentyPiecesWithTheLongestNames)
{
    TempFolder pieces("R:");
    const size_t longest = MAX_PATH - 1 - (pieces.path().size() + 1);
    ASSERT_GE(longest, 240u) << pieces.path();
    std::vector<std::string> names;
    std::vector<size_t> sizes;
    for (int n = 1; n <= 20; ++n) {
        names.push_back(pieceLabel(n) + std::string(longest - 3, n % 2 ? 'a' : 'B'));
        sizes.push_back(size_t(n == 14 ? 0 : 3000 + 517 * n));
    }
    std::string source = cutAndScript(pieces.path(), names, sizes, 4);
    EXPECT_GT(readFile(pieces / "source.bat").size(), 20 * 6 * longest);
    CertutilAnswers certutil("unbroken");
    BatchRun run = runBatch(pieces.path(), "source.bat", "exit\r\n", 300000);
    EXPECT_EQ(run.output.find("only their sizes"), std::string::npos) << run.output;
    expectJoined(pieces.path(), source, run);
}

// A piece that is not there as it was written stops the script before anything is renamed.
TEST_F(RejoinRun, APieceMissingOrOfAnotherSizeIsNamedAndNothingIsRenamed)
{
    cutAndScript(folder_.path(), numberedPieces(3), {5000, 777, 1}, 5);
    const std::string second = readFile(folder_ / "p02");
    const std::string roads[] = {"", second.substr(0, 776), second + "x"};
    for (const std::string &p02 : roads) {
        if (p02.empty())
            ASSERT_TRUE(DeleteFileA((folder_ / "p02").c_str()));
        else
            writeFile(folder_ / "p02", p02);
        auto before = filesIn(folder_.path());
        BatchRun run = runBatch(folder_.path(), "source.bat");
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("In the folder is not exist file p02 of 777 bytes"), std::string::npos)
            << run.output;
        EXPECT_TRUE(filesIn(folder_.path()) == before) << "p02 of " << p02.size() << " bytes: " << run.output;
    }
}

// Run from a command window that stands in another folder, the script joins its own
// pieces, and like-named files there (another split's) stay as they are.
TEST_F(RejoinRun, StartedFromAnotherFolderItJoinsInItsOwn)
{
    std::string source = cutAndScript(folder_.path(), numberedPieces(2), {5000, 777}, 6);
    TempFolder other;
    writeFile(other / "p01", randomBytes(5000, 60));
    writeFile(other / "p02", randomBytes(777, 61));
    auto before = filesIn(other.path());
    auto pieces = filesIn(folder_.path());
    BatchRun run = runBatch(other.path(), "\"" + (folder_ / "source.bat") + "\"");
    expectJoinedAndKept(folder_.path(), source, run, pieces);
    EXPECT_TRUE(filesIn(other.path()) == before) << run.output;

    // An interpreter set up with delayed expansion would drop the "!" from the folder's path.
    const std::string marked = folder_ / "Joe!s";
    ASSERT_TRUE(CreateDirectoryA(marked.c_str(), nullptr));
    source = cutAndScript(marked, numberedPieces(2), {300, 4000}, 9);
    pieces = filesIn(marked);
    run = runBatch(other.path(), "cmd /v:on /c \"" + marked + "\\source.bat\"");
    expectJoinedAndKept(marked, source, run, pieces);
    EXPECT_TRUE(filesIn(other.path()) == before) << run.output;
}

// A file lands under the source's name while copy runs (a sync client, a download): the
// final rename fails, the joined copy goes and every piece gets its name back; also when
// the pieces are read-only, which copy passes on to the joined copy.
TEST_F(RejoinRun, AFileLandingUnderTheSourcesNameWhileCopyRunsKeepsEverything)
{
    for (bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only pieces" : "writable pieces");
        TempFolder pieces;
        cutAndScript(pieces.path(), numberedPieces(2), {5000, 777}, 8);
        for (const char *name : {"p01", "p02"}) {
            if (readOnly) { ASSERT_TRUE(SetFileAttributesA((pieces / name).c_str(), FILE_ATTRIBUTE_READONLY)); }
        }
        auto expected = filesIn(pieces.path());
        bool stopped = false;
        BatchRun run = runBatchStoppedAtRename(
            pieces.path(), "source.bat", "\\source.dat",
            [&] { writeFile(pieces / "source.dat", "landed while copy ran"); }, &stopped);
        ASSERT_TRUE(stopped) << run.output;
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("Joining failed: the pieces are kept under their own names"), std::string::npos)
            << run.output;
        expected["source.dat"] = "landed while copy ran";
        EXPECT_TRUE(filesIn(pieces.path()) == expected) << run.output;
        SetCurrentDirectoryA(folder_.path().c_str());
    }
}

// A piece written to by another program while the join runs makes a joined file of
// another size: it never takes the source's name, and the pieces get their names back.
TEST_F(RejoinRun, APieceThatGrowsWhileTheJoinRunsIsNotTakenForTheSource)
{
    cutAndScript(folder_.path(), numberedPieces(2), {5000, 777}, 10);
    auto expected = filesIn(folder_.path());
    expected["p01"] += "grown";
    bool stopped = false;
    BatchRun run = runBatchStoppedAtRename(
        folder_.path(), "source.bat", "\\_1._9",
        [&] { writeFile(folder_ / "_0._9", expected["p01"]); }, &stopped);
    ASSERT_TRUE(stopped) << run.output;
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining failed: the pieces are kept under their own names"), std::string::npos)
        << run.output;
    EXPECT_TRUE(filesIn(folder_.path()) == expected) << run.output;
}

TEST_F(RejoinRun, AFileNamedLikeTheSourceStopsTheJoinAndStays)
{
    const std::string first = randomBytes(5000, 5), second = randomBytes(777, 6);
    writeFile(folder_ / "p01", first);
    writeFile(folder_ / "p02", second);
    writeFile(folder_ / "source.dat", "the user's own file");
    usePieces(numberedPieces(2), "source.dat", {5000, 777});
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

    // With that file moved away, the same script joins, on the sizes alone here.
    ASSERT_TRUE(DeleteFileA((folder_ / "source.dat").c_str()));
    const auto pieces = filesIn(folder_.path());
    run = runBatch(folder_.path(), "source.bat");
    EXPECT_EQ(run.output.find("Joining failed"), std::string::npos) << run.output;
    expectJoinedAndKept(folder_.path(), first + second, run, pieces);
}

// A join that cannot be done stops before it touches a file it does not own, or puts
// every piece back under its own name.
TEST_F(RejoinRun, AnotherJoinsTemporaryFileOrAPieceThatCannotBeRenamedKeepsEverything)
{
    const std::string first = randomBytes(5000, 7), second = randomBytes(777, 8);
    writeFile(folder_ / "p01", first);
    writeFile(folder_ / "p02", second);
    usePieces(numberedPieces(2), "source.dat", {5000, 777});
    ASSERT_EQ(writeRejoinScript(), 1);
    for (const char *stranger : {"_0._9", "_1._9"}) {
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

    // Renamed, then held open without sharing: the join fails, _0._9 cannot have its name
    // back, and the window names it.
    held = INVALID_HANDLE_VALUE;
    bool stopped = false;
    run = runBatchStoppedAtRename(
        folder_.path(), "source.bat", "\\_1._9",
        [&] { held = CreateFileA((folder_ / "_0._9").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); },
        &stopped);
    ASSERT_TRUE(stopped) << run.output;
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining failed: p01 is in use and still named _0._9. Every piece is kept."),
              std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("under their own names"), std::string::npos) << run.output;
    EXPECT_TRUE(filesIn(folder_.path()) ==
                (std::map<std::string, std::string>{{"_0._9", first}, {"p02", second}, {"source.bat", readFile(folder_ / "source.bat")}}))
        << run.output;
}

// A joined file an unfinished join left beside pieces under their own names goes on a Y
// alone, and the join goes on; any other answer, a quote included, keeps every file and
// says so. So does a stopped join's question, and a folder the script cannot go into.
TEST_F(RejoinRun, EveryWayItStopsSaysWhyAndKeepsEveryFile)
{
    CertutilAnswers certutil("unbroken");
    ASSERT_TRUE(certutil.installed());
    const std::string source = cutAndScript(folder_.path(), numberedPieces(2), {5000, 777}, 23);
    writeFile(folder_ / "_z._9", source.substr(0, 3000));
    const auto before = filesIn(folder_.path());
    const char *refusals[] = {"N\r\n", "\"\r\n", "\"Y\r\n", "Y\" & del /f p01\r\n", "\r\n"};
    for (const char *answer : refusals) {
        BatchRun run = runBatch(folder_.path(), "source.bat", answer, 300000);
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(run.output.find("type Y and Enter to delete _z._9"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Joining stopped: every file is left as it was"), std::string::npos)
            << answer << run.output;
        EXPECT_TRUE(filesIn(folder_.path()) == before) << answer << run.output;
    }

    // Stopped after its renames, answered with a quote.
    ASSERT_TRUE(DeleteFileA((folder_ / "_z._9").c_str()));
    ASSERT_TRUE(MoveFileA((folder_ / "p01").c_str(), (folder_ / "_0._9").c_str()));
    const auto renamed = filesIn(folder_.path());
    BatchRun run = runBatch(folder_.path(), "source.bat", "\"\r\n", 300000);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining stopped: every file is left as it was"), std::string::npos) << run.output;
    EXPECT_TRUE(filesIn(folder_.path()) == renamed) << run.output;
    ASSERT_TRUE(MoveFileA((folder_ / "_0._9").c_str(), (folder_ / "p01").c_str()));

    // Y: _z._9 goes, and the join is done.
    writeFile(folder_ / "_z._9", source.substr(0, 3000));
    expectJoined(folder_.path(), source, runBatch(folder_.path(), "source.bat", "Y\r\n", 300000));

    // Wine's cmd.exe expands the "%" of "%~dp0" again: a script in "Split 100%" asks for
    // "Split 100", which is not there, and pushd fails.
    const std::string percent = folder_ / "Split 100%";
    ASSERT_TRUE(CreateDirectoryA(percent.c_str(), nullptr));
    cutAndScript(percent, numberedPieces(2), {300, 4000}, 24);
    const auto pieces = filesIn(percent);
    SetCurrentDirectoryA(folder_.path().c_str());
    run = runBatch(percent, "source.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining stopped: the script cannot go into its own folder"), std::string::npos)
        << run.output;
    EXPECT_TRUE(filesIn(percent) == pieces) << run.output;
}

namespace {

// What a plan meets when its script runs.
enum Road {
    Plain, Missing, Shorter, Longer, StrangerPiece, StrangerJoined, ReadOnly, SourceInTheWay, Elsewhere, Changed,
    Interrupted, roadCount
};
const char *const roadNames[] = {"plain", "a piece missing", "a piece one byte short", "a piece one byte longer",
                                 "a stranger _k._9", "a stranger _z._9", "a read-only piece",
                                 "a file of the source's name in the way", "run from another folder",
                                 "a piece of its size with other bytes", "a join stopped after its renames"};
const char *const certutilForms[] = {"spaced", "unbroken", "none"};

// Names Windows takes as devices, or as another name, are refused before they reach a script.
bool fitsNameRule(const std::string &name)
{
    if (name.empty() || name.back() == '.') return false;
    std::string stem = name.substr(0, name.find('.'));
    for (char &c : stem) c = char(toupper((unsigned char)c));
    for (const char *device : {"CON", "PRN", "AUX", "NUL"})
        if (stem == device) return false;
    return !(stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
             stem[3] >= '1' && stem[3] <= '9');
}

std::string folded(std::string name)
{
    for (char &c : name) c = char(toupper((unsigned char)c));
    return name;
}

struct Plan {
    std::string source;
    std::vector<std::string> names;
    std::vector<size_t> sizes;
    Road road;
    size_t piece;  // the piece the road is about
    const char *certutil;
};

// A name of the name rule's characters, of any length up to longest, often of the
// lengths at the ends, unlike every name in taken (as Windows compares them).
std::string freshName(std::mt19937 &random, size_t longest, std::set<std::string> &taken)
{
    static const char characters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_.";
    for (;;) {
        size_t length;
        switch (random() % 4) {
        case 0: length = 1 + random() % 3; break;
        case 1: length = longest - random() % 3; break;
        default: length = 1 + random() % longest;
        }
        std::string name;
        for (size_t i = 0; i < length; ++i) name += characters[random() % (sizeof characters - 1)];
        if (fitsNameRule(name) && taken.insert(folded(name)).second) return name;
    }
}

Plan makePlan(uint32_t seed, size_t longestPiece)
{
    std::mt19937 random(seed);
    Plan plan;
    std::set<std::string> taken;
    for (const char *own : {"_0._9", "_1._9", "_2._9", "_3._9", "_4._9", "_5._9", "_6._9", "_7._9", "_8._9", "_9._9",
                            "_a._9", "_b._9", "_c._9", "_d._9", "_e._9", "_f._9", "_g._9", "_h._9", "_i._9", "_j._9",
                            "_z._9"})
        taken.insert(folded(own));
    plan.source = freshName(random, size_t(maxSourceNameLength), taken);
    char script[pathSize];
    makeScriptName(plan.source.c_str(), 1, script, sizeof script);
    taken.insert(folded(script));
    // certutil runs once per piece, a Wine process each: slow here, so a plan with its
    // answers (always where other bytes of the same size are the road) has few pieces.
    plan.road = Road(random() % roadCount);
    plan.certutil = certutilForms[plan.road == Changed ? random() % 2 : random() % 4 == 0 ? random() % 2 : 2];
    size_t count = 1 + random() % (plan.certutil == certutilForms[2] ? maxPieces : 4);
    const size_t edges[] = {0, 1, 511, 512, 513};
    for (size_t n = 0; n < count; ++n) {
        plan.names.push_back(freshName(random, longestPiece, taken));
        plan.sizes.push_back(random() % 2 ? edges[random() % 5] : 514 + random() % 20000);
    }
    plan.piece = random() % count;
    // A piece of no bytes cannot be one byte short, nor hold other bytes.
    if (plan.road == Shorter && plan.sizes[plan.piece] == 0) plan.road = Longer;
    if (plan.road == Changed && plan.sizes[plan.piece] == 0) plan.sizes[plan.piece] = 1;
    return plan;
}

uint32_t firstSeed(bool *replay)
{
    char text[16] = "";
    *replay = GetEnvironmentVariableA("KESTRAND_JOIN_SEED", text, sizeof text) > 0;
    if (*replay) return uint32_t(strtoul(text, nullptr, 10));
    return GetTickCount() ^ (GetCurrentProcessId() << 16);
}

}  // namespace

// Random plans, each meeting one road: the join is the source byte for byte and leaves no
// temporary file, or every file is as it was and nothing of the source's name was made.
// KESTRAND_JOIN_SEED=<seed> replays the one plan of that seed.
TEST_F(RejoinRun, EveryRoadEndsJoinedOrWithEverythingKept)
{
    bool replay = false;
    const uint32_t first = firstSeed(&replay);
    const int plans = replay ? 1 : 32;
    printf("join plans from seed %lu (replay one with KESTRAND_JOIN_SEED)\n", (unsigned long)first);
    CertutilAnswers certutil("none");
    ASSERT_TRUE(certutil.installed());
    for (int i = 0; i < plans; ++i) {
        const uint32_t seed = first + uint32_t(i);
        TempFolder pieces("R:"), other("R:");
        Plan plan = makePlan(seed, MAX_PATH - 1 - (std::max(pieces.path().size(), other.path().size()) + 1));
        SCOPED_TRACE("KESTRAND_JOIN_SEED=" + std::to_string(seed) + ": " + std::to_string(plan.names.size()) +
                     " pieces, " + roadNames[plan.road] + " (piece " + std::to_string(plan.piece + 1) +
                     "), certutil " + plan.certutil);
        certutil.answer(plan.certutil);
        size_t total = 0;
        for (size_t size : plan.sizes) total += size;
        const std::string source = randomBytes(total, seed);
        size_t at = 0;
        for (size_t n = 0; n < plan.names.size(); ++n) {
            writeFile(pieces / plan.names[n], source.substr(at, plan.sizes[n]));
            at += plan.sizes[n];
        }
        SetCurrentDirectoryA(pieces.path().c_str());
        usePieces(plan.names, plan.source.c_str(), std::vector<uint64_t>(plan.sizes.begin(), plan.sizes.end()));
        ASSERT_EQ(writeRejoinScript(), 1);
        char script[pathSize];
        makeScriptName(plan.source.c_str(), 1, script, sizeof script);

        const std::string piece = pieces / plan.names[plan.piece];
        const char stranger[] = {'_', char(plan.piece < 10 ? '0' + plan.piece : 'a' + plan.piece - 10), '.', '_', '9', 0};
        switch (plan.road) {
        case Missing: ASSERT_TRUE(DeleteFileA(piece.c_str())); break;
        case Shorter: writeFile(piece, readFile(piece).substr(1)); break;
        case Longer: writeFile(piece, readFile(piece) + "+"); break;
        case StrangerPiece: writeFile(pieces / stranger, "another join's"); break;
        case StrangerJoined: writeFile(pieces / "_z._9", "another join's"); break;
        case ReadOnly: ASSERT_TRUE(SetFileAttributesA(piece.c_str(), FILE_ATTRIBUTE_READONLY)); break;
        case SourceInTheWay: writeFile(pieces / plan.source, "the user's own"); break;
        case Elsewhere:
            for (size_t n = 0; n < plan.names.size(); ++n) writeFile(other / plan.names[n], randomBytes(plan.sizes[n], ~seed));
            break;
        case Changed: {
            std::string bytes = readFile(piece);
            bytes[seed % bytes.size()] ^= char(1 << (seed % 8));
            writeFile(piece, bytes);
            break;
        }
        case Interrupted:
            // Every piece up to this one renamed, maybe a part of the joined file.
            for (size_t n = 0; n <= plan.piece; ++n) {
                const char temporary[] = {'_', char(n < 10 ? '0' + n : 'a' + n - 10), '.', '_', '9', 0};
                ASSERT_TRUE(MoveFileA((pieces / plan.names[n]).c_str(), (pieces / temporary).c_str()));
            }
            if (seed % 2) writeFile(pieces / "_z._9", source.substr(0, seed % (total + 1)));
            break;
        default: break;
        }
        const auto before = filesIn(pieces.path());
        const auto elsewhere = filesIn(other.path());
        // certutil runs once per piece: give a slow machine its time.
        BatchRun run = plan.road == Elsewhere ? runBatch(other.path(), "\"" + (pieces / script) + "\"", "exit\r\n", 300000)
                                              : runBatch(pieces.path(), script, plan.road == Interrupted ? "Y\r\n" : "exit\r\n", 300000);
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_TRUE(filesIn(other.path()) == elsewhere) << run.output;
        EXPECT_EQ(run.output.find("only their sizes") != std::string::npos, std::string(plan.certutil) == "none" &&
                                                                                  total > 0 && plan.road != Missing &&
                                                                                  plan.road != Shorter && plan.road != Longer)
            << run.output;
        if (plan.road == Plain || plan.road == ReadOnly || plan.road == Elsewhere || plan.road == Interrupted) {
            // Joined on the sizes alone, every piece stays under its own name.
            const bool unchecked = std::string(plan.certutil) == "none" && total > 0;
            std::set<std::string> names{script, plan.source};
            if (unchecked) names.insert(plan.names.begin(), plan.names.end());
            EXPECT_EQ(namesIn(pieces.path()), names) << run.output;
            EXPECT_TRUE(fileExists(pieces / plan.source) && readFile(pieces / plan.source) == source)
                << "joined bytes differ: " << run.output;
            at = 0;
            for (size_t n = 0; unchecked && n < plan.names.size(); at += plan.sizes[n++])
                EXPECT_TRUE(readFile(pieces / plan.names[n]) == source.substr(at, plan.sizes[n])) << plan.names[n];
        } else {
            EXPECT_TRUE(filesIn(pieces.path()) == before) << run.output;
        }
        SetCurrentDirectoryA(folder_.path().c_str());
        if (HasFailure()) break;
    }
}
