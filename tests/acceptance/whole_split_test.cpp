// Whole splits with the proposed names, joined again by the script the program leaves.
#include <gtest/gtest.h>

#include "acceptance/session.h"

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
    output = rejoin(pieces, "data.bat");
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

// The worked example typed into the window: its script is the 1,219 bytes written down in
// the unit tests (here by their SHA-256), and it joins.
TEST(WholeSplitOfTheWorkedExample, LeavesThe1219ByteScript)
{
    TempFolder folder;
    std::string bytes = randomBytes(1500000, 3);
    writeFile(folder / "data.bin", bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination(folder / "parts\\piece01"));
    ASSERT_EQ(s.writePiece("1000000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("500000"), Session::Ended);
    std::string pieces = folder / "parts";
    EXPECT_EQ(readFile(pieces + "\\data.bat").size(), 1219u);
    EXPECT_EQ(sha256File(pieces + "\\data.bat"), "720c95e573e0ff3c924148e6d706d75a50f87e931787c1559e146c04374f128f");

    // A copy of piece02 cut one byte short is not joined, and nothing is touched.
    std::string piece02 = readFile(pieces + "\\piece02");
    writeFile(pieces + "\\piece02", piece02.substr(0, piece02.size() - 1));
    std::string output = rejoin(pieces, "data.bat");
    EXPECT_NE(output.find("In the folder is not exist file piece02 of 500000 bytes"), std::string::npos) << output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "piece01", "piece02"})) << output;
    EXPECT_EQ(readFile(pieces + "\\piece01"), bytes.substr(0, 1000000));

    // Whole again, and read-only as pieces copied from a CD are: joined, no temporary left.
    writeFile(pieces + "\\piece02", piece02);
    for (const char *piece : {"\\piece01", "\\piece02"})
        ASSERT_TRUE(SetFileAttributesA((pieces + piece).c_str(), FILE_ATTRIBUTE_READONLY));
    output = rejoin(pieces, "data.bat");
    EXPECT_EQ(sha256File(pieces + "\\data.bin"), sha256(bytes)) << output;
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "data.bin"})) << output;
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
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"data.bat", "data_2.bat", "data.bin"})) << output;
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
// will not join it.
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
              "These pieces have changed since this split wrote them, so the joining script will not join them:\n" +
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
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"run.bat", "run.bat.bat"})) << output;
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
    EXPECT_EQ(filesUnder(pieces), (std::set<std::string>{"huge.bat", "huge.img"})) << output;
}
