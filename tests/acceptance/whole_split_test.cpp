// Whole splits with the proposed names, joined again by the script the program leaves.
#include <gtest/gtest.h>

#include "acceptance/session.h"
#include "support/certutil.h"

namespace {

struct SplitCase {
    size_t bytes;
    const char *pieceSize;
    int pieces;
};

class WholeSplit : public ::testing::TestWithParam<SplitCase> {};

std::string pieceName(int n)
{
    char name[8];
    wsprintfA(name, "%02d", n);
    return name;
}

}  // namespace

TEST_P(WholeSplit, DefaultNamesJoinBackToTheSource)
{
    const SplitCase c = GetParam();
    TempFolder folder;
    std::string source = folder / "data.bin";
    std::string bytes = randomBytes(c.bytes, uint32_t(c.bytes) + 5);
    writeFile(source, bytes);

    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    EXPECT_EQ(s.text(DestField), folder / "Separation\\01");
    EXPECT_EQ(s.focus(), s.control(DestField));
    for (int piece = 1; piece <= c.pieces; ++piece) {
        EXPECT_EQ(s.text(DestField), folder / ("Separation\\" + pieceName(piece)));
        ASSERT_TRUE(s.acceptDestination()) << "piece " << piece;
        EXPECT_EQ(s.focus(), s.control(SizeField));
        Session::Outcome outcome = s.writePiece(c.pieceSize);
        ASSERT_EQ(outcome, piece == c.pieces ? Session::Ended : Session::NextPiece) << "piece " << piece;
        if (piece < c.pieces) {
            EXPECT_EQ(s.focus(), s.control(DestField));
        }
    }
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_TRUE(s.boxes.empty()) << s.boxes[0].text;

    std::string pieces = folder / "Separation";
    std::set<std::string> expected{"data.bat"};
    for (int piece = 1; piece <= c.pieces; ++piece) expected.insert(pieceName(piece));
    EXPECT_EQ(filesUnder(pieces), expected);
    // Another join's temporary file stops the join before anything is renamed.
    writeFile(pieces + "\\_0._9", "another join's");
    std::string output = rejoin(pieces, "data.bat");
    EXPECT_NE(output.find("Joining stopped"), std::string::npos) << output;
    EXPECT_EQ(readFile(pieces + "\\_0._9"), "another join's");
    std::set<std::string> withStranger = expected;
    withStranger.insert("_0._9");
    EXPECT_EQ(filesUnder(pieces), withStranger) << output;
    ASSERT_TRUE(DeleteFileA((pieces + "\\_0._9").c_str()));
    CertutilAnswers certutil("unbroken");
    ASSERT_TRUE(certutil.installed());
    output = rejoin(pieces, "data.bat", 300000);
    EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
    // The pieces went into the joined file; only it and the script stay.
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "data.bin"})) << output;
    EXPECT_EQ(readFile(source), bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WholeSplit,
                         ::testing::Values(SplitCase{0, "1", 1}, SplitCase{1, "1", 1}, SplitCase{511, "200", 3},
                                           SplitCase{512, "512", 1}, SplitCase{513, "512", 2},
                                           SplitCase{1048577, "300000", 4}),
                         [](const ::testing::TestParamInfo<SplitCase> &info) {
                             return "Bytes" + std::to_string(info.param.bytes);
                         });

// The worked example typed into the window leaves the 4,208-byte script with each piece's
// SHA-1, and that script meets each road a join can take, certutil answering as Windows 7
// does, as Windows 8 to 11 do, after another program's line, with its usage text (a
// certutil without -hashfile), or not at all (Windows 2000 and XP, Wine).
TEST(WholeSplitOfTheWorkedExample, LeavesThe4208ByteScriptThatChecksEveryPiece)
{
    TempFolder folder;
    const std::string bytes = randomBytes(1500000, 3);
    const std::string first = bytes.substr(0, 1000000), second = bytes.substr(1000000);
    writeFile(folder / "data.bin", bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination(folder / "parts\\piece01"));
    ASSERT_EQ(s.writePiece("1000000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("500000"), Session::Ended);
    const std::string pieces = folder / "parts";
    const std::string script = readFile(pieces + "\\data.bat");
    EXPECT_EQ(script.size(), 4208u);
    EXPECT_NE(script.find("\r\ncall :sha1 piece01\r\nif not defined kh goto unchecked\r\nif /i not \"%kh%\"==\"" +
                          sha1Hex(first) + "\" goto damaged\r\ncall :sha1 piece02\r\nif /i not \"%kh%\"==\"" +
                          sha1Hex(second) + "\" goto damaged\r\ngoto checked\r\n"),
              std::string::npos);
    CertutilAnswers certutil("spaced");
    ASSERT_TRUE(certutil.installed());
    const std::set<std::string> split{"data.bat", "piece01", "piece02"}, joined{"data.bat", "data.bin"};
    // Each road starts from the pieces as written, and nothing else beside the script.
    auto cutAgain = [&] {
        for (const char *other : {"\\data.bin", "\\_0._9", "\\_1._9", "\\_z._9"}) {
            // copy passes the pieces' read-only attribute on to the joined file
            SetFileAttributesA((pieces + other).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((pieces + other).c_str());
        }
        writeFile(pieces + "\\piece01", first);
        writeFile(pieces + "\\piece02", second);
    };
    auto expectJoined = [&](const std::string &output) {
        EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
        EXPECT_EQ(filesUnder(pieces), joined) << output;
    };
    const std::string unchecked =
        "The contents of the pieces cannot be checked on this Windows, only their sizes: the pieces will be kept.";
    const std::string kept = "data.bin is joined on the sizes of its pieces alone, as this Windows cannot check their "
                             "contents. The pieces are kept.";

    // Each of certutil's answers: checked and joined. No hash among its lines: the notice,
    // joined, and both pieces kept as they were.
    for (const char *form : {"spaced", "unbroken", "preceded", "usage", "none"}) {
        SCOPED_TRACE(form);
        certutil.answer(form);
        cutAgain();
        std::string output = rejoin(pieces, "data.bat", 300000);
        const bool answered = strcmp(form, "usage") != 0 && strcmp(form, "none") != 0;
        if (answered) {
            expectJoined(output);
        } else {
            EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
            EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "data.bin", "piece01", "piece02"})) << output;
            EXPECT_TRUE(fileBytes(pieces + "\\piece01") == first && fileBytes(pieces + "\\piece02") == second);
        }
        EXPECT_EQ(output.find(unchecked) != std::string::npos, !answered) << output;
        EXPECT_EQ(output.find(kept) != std::string::npos, !answered) << output;
    }

    // A copy of piece02 cut one byte short is not joined, and nothing is touched.
    certutil.answer("unbroken");
    cutAgain();
    writeFile(pieces + "\\piece02", second.substr(0, second.size() - 1));
    std::string output = rejoin(pieces, "data.bat");
    EXPECT_NE(output.find("In the folder is not exist file piece02 of 500000 bytes"), std::string::npos) << output;
    EXPECT_EQ(filesUnder(pieces), split) << output;
    EXPECT_TRUE(fileBytes(pieces + "\\piece01") == first);

    // Of the right size with one byte changed: stopped, named, both pieces as they were.
    std::string changed = second;
    changed[250000] = char(changed[250000] ^ 0x20);
    writeFile(pieces + "\\piece02", changed);
    output = rejoin(pieces, "data.bat");
    EXPECT_NE(output.find("Joining stopped: piece02 cannot be read or does not hold the bytes it was written with. "
                          "Every piece is kept."),
              std::string::npos) << output;
    EXPECT_EQ(filesUnder(pieces), split) << output;
    EXPECT_TRUE(fileBytes(pieces + "\\piece01") == first && fileBytes(pieces + "\\piece02") == changed);

    // A join stopped after its renames and its copy: given back on Y, then joined.
    cutAgain();
    ASSERT_TRUE(MoveFileA((pieces + "\\piece01").c_str(), (pieces + "\\_0._9").c_str()));
    ASSERT_TRUE(MoveFileA((pieces + "\\piece02").c_str(), (pieces + "\\_1._9").c_str()));
    writeFile(pieces + "\\_z._9", bytes);
    output = rejoin(pieces, "data.bat", 300000, "Y\r\n");
    EXPECT_NE(output.find("An earlier join of these pieces was stopped and left them renamed."), std::string::npos)
        << output;
    expectJoined(output);

    // Stopped with piece02 renamed, answered N: nothing changes.
    cutAgain();
    ASSERT_TRUE(MoveFileA((pieces + "\\piece02").c_str(), (pieces + "\\_1._9").c_str()));
    output = rejoin(pieces, "data.bat", 300000, "N\r\n");
    EXPECT_NE(output.find("type Y and Enter to give them their names back"), std::string::npos) << output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "piece01", "_1._9"})) << output;
    EXPECT_TRUE(fileBytes(pieces + "\\_1._9") == second);

    // Started by its name without the extension: joined.
    cutAgain();
    output = rejoin(pieces, "data");
    expectJoined(output);

    // Read-only, as pieces copied from a CD are: joined, no temporary left.
    cutAgain();
    for (const char *piece : {"\\piece01", "\\piece02"})
        ASSERT_TRUE(SetFileAttributesA((pieces + piece).c_str(), FILE_ATTRIBUTE_READONLY));
    output = rejoin(pieces, "data.bat");
    expectJoined(output);

    // An unfinished joined file beside pieces under their own names: a quote or N at the
    // question keeps every file and says so; Y deletes it, and the join goes on.
    for (const char *answer : {"\"\r\n", "N\r\n", "Y\r\n"}) {
        SCOPED_TRACE(answer);
        cutAgain();
        writeFile(pieces + "\\_z._9", bytes.substr(0, 700000));
        output = rejoin(pieces, "data.bat", 300000, answer);
        EXPECT_NE(output.find("type Y and Enter to delete _z._9"), std::string::npos) << output;
        if (answer[0] == 'Y') {
            expectJoined(output);
        } else {
            EXPECT_NE(output.find("Joining stopped: every file is left as it was"), std::string::npos) << output;
            EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "piece01", "piece02", "_z._9"})) << output;
            EXPECT_TRUE(fileBytes(pieces + "\\_z._9") == bytes.substr(0, 700000));
        }
    }

    // A quote typed at the stopped join's question: nothing changes, and the script says so.
    cutAgain();
    ASSERT_TRUE(MoveFileA((pieces + "\\piece01").c_str(), (pieces + "\\_0._9").c_str()));
    output = rejoin(pieces, "data.bat", 300000, "\"\r\n");
    EXPECT_NE(output.find("Joining stopped: every file is left as it was"), std::string::npos) << output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "_0._9", "piece02"})) << output;

    // Renamed, then held open without sharing by another program: the join fails, and the
    // window names the piece that keeps its temporary name.
    cutAgain();
    HANDLE held = INVALID_HANDLE_VALUE;
    bool stopped = false;
    BatchRun run = runBatchStoppedAtRename(
        pieces, "data.bat", "\\_1._9",
        [&] { held = CreateFileA((pieces + "\\_0._9").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); },
        &stopped);
    ASSERT_TRUE(stopped) << run.output;
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    EXPECT_NE(run.output.find("Joining failed: piece01 is in use and still named _0._9. Every piece is kept."),
              std::string::npos) << run.output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "_0._9", "piece02"})) << run.output;
    EXPECT_TRUE(fileBytes(pieces + "\\_0._9") == first && fileBytes(pieces + "\\piece02") == second);

    // In a folder "Split 100%" beside a "Split 100" that holds other files of the pieces'
    // names and sizes: the join stops, and the sibling is left as it was. Without certutil,
    // as on XP, only the script's own check tells the sibling's files from the pieces.
    certutil.answer("none");
    cutAgain();
    const std::string percent = folder / "Split 100%", sibling = folder / "Split 100";
    ASSERT_TRUE(MoveFileA(pieces.c_str(), percent.c_str()));
    ASSERT_TRUE(CreateDirectoryA(sibling.c_str(), nullptr));
    writeFile(sibling + "\\piece01", randomBytes(1000000, 30));
    writeFile(sibling + "\\piece02", randomBytes(500000, 31));
    const auto siblingBefore = filesUnder(sibling);
    const std::string siblingFirst = readFile(sibling + "\\piece01");
    output = rejoin(percent, "data.bat");
    EXPECT_NE(output.find("Joining stopped: the script cannot find its own folder"), std::string::npos) << output;
    EXPECT_EQ(filesUnder(percent), split) << output;
    EXPECT_EQ(filesUnder(sibling), siblingBefore) << output;
    EXPECT_TRUE(fileBytes(sibling + "\\piece01") == siblingFirst);
}

// The user's own data.bat in the last piece's folder stays; the pieces get data_2.bat, and
// run from a command window in another folder it joins them there, not that folder's files.
TEST(WholeSplitBesideAUsersScript, KeepsItAndJoinsFromAnotherFolder)
{
    TempFolder folder, elsewhere;
    std::string bytes = randomBytes(3000, 11);
    writeFile(folder / "data.bin", bytes);
    ASSERT_TRUE(CreateDirectoryA((folder / "Separation").c_str(), nullptr));
    writeFile(folder / "Separation\\data.bat", "@echo the user's own");
    writeFile(elsewhere / "01", randomBytes(2000, 12));  // another split's pieces
    writeFile(elsewhere / "02", randomBytes(1000, 13));
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("2000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("2000"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    std::string pieces = folder / "Separation";
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].caption, "Kestrand");
    EXPECT_EQ(s.boxes[0].text,
              "The joining script is " + pieces + "\\data_2.bat, as a file data.bat was already in this folder.");
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "data.bat", "data_2.bat"}));

    auto before = filesUnder(elsewhere.path());
    std::string output = rejoin(elsewhere.path(), "\"" + pieces + "\\data_2.bat\"");
    EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
    // Joined on the sizes alone (no certutil here): the pieces stay.
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "data.bat", "data_2.bat", "data.bin"})) << output;
    EXPECT_EQ(readFile(pieces + "\\data.bat"), "@echo the user's own");
    EXPECT_EQ(filesUnder(elsewhere.path()), before) << output;
    EXPECT_EQ(sha256File(elsewhere / "01"), sha256(randomBytes(2000, 12)));
    EXPECT_EQ(sha256File(elsewhere / "02"), sha256(randomBytes(1000, 13)));
}

// Every name the script may take is taken, data.bat by a folder: no script, said so, and
// every piece kept. Once one is free the next split's script takes it.
TEST(WholeSplitBesideTakenScriptNames, SaysNoScriptWasWrittenAndKeepsThePieces)
{
    TempFolder folder;
    std::string bytes = randomBytes(1500, 14);
    writeFile(folder / "data.bin", bytes);
    std::string pieces = folder / "Separation";
    ASSERT_TRUE(CreateDirectoryA(pieces.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((pieces + "\\data.bat").c_str(), nullptr));
    std::set<std::string> expected{"01", "02"};
    for (int n = 2; n <= 99; ++n) {
        std::string name = "data_" + std::to_string(n) + ".bat";
        writeFile(pieces + "\\" + name, "@echo another split's joiner");
        expected.insert(name);
    }
    {
        Session s;
        ASSERT_TRUE(s.start("", folder.path()));
        ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
        ASSERT_TRUE(s.acceptDestination());
        ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
        ASSERT_TRUE(s.acceptDestination());
        ASSERT_EQ(s.writePiece("1000"), Session::Ended);
        EXPECT_EQ(s.exitCode(), 0);
        ASSERT_EQ(s.boxes.size(), 1u);
        EXPECT_EQ(s.boxes[0].caption, "Kestrand");
        EXPECT_EQ(s.boxes[0].text, "No joining script was written: data.bat to data_99.bat are all taken in " + pieces +
                                       ". The pieces are kept.");
    }
    EXPECT_EQ(filesUnder(pieces), expected);
    EXPECT_EQ(readFile(pieces + "\\01") + readFile(pieces + "\\02"), bytes);
    EXPECT_EQ(readFile(pieces + "\\data_99.bat"), "@echo another split's joiner");

    ASSERT_TRUE(DeleteFileA((pieces + "\\data_57.bat").c_str()));
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination(pieces + "\\whole"));
    ASSERT_EQ(s.writePiece("1500"), Session::Ended);
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].text,
              "The joining script is " + pieces + "\\data_57.bat, as a folder data.bat was already in this folder.");
    std::string output = rejoin(pieces, "data_57.bat");
    EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
}

// A piece replaced by a file of its size before the last piece ends is named: the script
// may stop at it.
TEST(WholeSplitWithAPieceReplacedMeanwhile, NamesThatPiece)
{
    TempFolder folder;
    std::string bytes = randomBytes(1500, 15);
    writeFile(folder / "data.bin", bytes);
    std::string pieces = folder / "Separation";
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    ASSERT_TRUE(DeleteFileA((pieces + "\\01").c_str()));
    writeFile(pieces + "\\01", randomBytes(1000, 16));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("1000"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].caption, "Kestrand");
    EXPECT_EQ(withoutCarriageReturns(s.boxes[0].text),
              "These pieces have changed since this split wrote them. The joining script stops at a piece of "
              "another size, and at one of other bytes where this Windows lets it check them:\n" +
                  pieces + "\\01");
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "data.bat"}));
    EXPECT_EQ(readFile(pieces + "\\02"), bytes.substr(1000));
}

// A source named like a script gets a script of another name, which joins it back.
TEST(WholeSplitOfABatchFile, JoinsByItsOwnScript)
{
    TempFolder folder;
    std::string source = folder / "run.bat";
    std::string bytes = randomBytes(1500, 9);
    writeFile(source, bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("1000"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    std::string pieces = folder / "Separation";
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "run.bat.bat"}));
    std::string output = rejoin(pieces, "run.bat.bat");
    EXPECT_EQ(sha256File(pieces + "\\run.bat"), sha256(bytes)) << output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "run.bat", "run.bat.bat"})) << output;
    EXPECT_EQ(readFile(source), bytes);
}

// A source above 4 GiB, mostly a hole, with marks at the places where counting could go wrong.
TEST(HugeSplit, SparseSourceAbove4GiBInPiecesOf999999999)
{
    const uint64_t size = 4294967296ull + 12345;
    std::vector<std::pair<uint64_t, std::string>> marks;
    const uint64_t places[] = {0, 999999999 - 100, 2 * 999999999ull - 7, 2147483648ull - 50, 4294967296ull - 300,
                               4 * 999999999ull - 1, size - 4096};
    uint32_t seed = 1;
    for (uint64_t at : places) marks.push_back({at, randomBytes(4096, seed++)});
    marks.back().second.resize(4096);

    TempFolder folder;
    std::string source = folder / "huge.img";
    writeSparseFile(source, size, marks);
    std::string sourceHash = sha256File(source);

    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    Shot shot;
    bool shots = screenshotsAvailable();
    if (shots) placeForShots(s.window(), 470, 300);
    auto restShown = [&](const std::string &name, const std::string &figure) {
        if (!shots) return;
        ASSERT_TRUE(takeShot(s.window(), name, shot));
        Shot expected = renderText(figure, 129, 16);
        int differing = 0;
        // The label's last two characters run into the figure's first two digits in the
        // window's font; compare from the third digit on.
        for (int y = 0; y < 16; ++y)
            for (int x = 24; x < 129; ++x) differing += shot.at(167 + x, 124 + y) != expected.at(x, y);
        EXPECT_EQ(differing, 0) << name << ": the rest of the source is not shown as " << figure;
    };
    restShown("huge-start", "4294979641 bytes");
    for (int piece = 1; piece <= 5; ++piece) {
        ASSERT_TRUE(s.acceptDestination()) << "piece " << piece;
        s.press(MaxButton);
        ASSERT_TRUE(waitUntil([&] { return s.text(SizeField) == "999999999"; }))
            << "Max shows " << s.text(SizeField);
        ASSERT_EQ(s.writePiece("999999999", 600000), piece == 5 ? Session::Ended : Session::NextPiece)
            << "piece " << piece;
        if (piece == 4) restShown("huge-rest", "294979645 bytes");
    }
    EXPECT_EQ(s.exitCode(), 0);
    std::string pieces = folder / "Separation";
    ASSERT_TRUE(fileExists(pieces + "\\huge.bat"));
    std::string output = rejoin(pieces, "huge.bat", 1800000);
    EXPECT_EQ(sha256File(pieces + "\\huge.img"), sourceHash) << output;
    // Joined on the sizes alone (no certutil here): the pieces stay.
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"01", "02", "03", "04", "05", "huge.bat", "huge.img"}))
        << output;
}
