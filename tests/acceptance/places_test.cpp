// Pieces typed by the user into different folders and onto different drives.
#include <gtest/gtest.h>

#include <windows.h>

#include "acceptance/session.h"

namespace {

bool moveInto(const std::string &from, const std::string &to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

}  // namespace

TEST(Places, PiecesOnThreeDrivesJoinOnceBroughtTogether)
{
    TempFolder folder;                       // the source's own drive
    DriveFolder plain("R:", "places");       // a second drive
    DriveFolder unixRoot("Z:\\tmp", "places");  // the Unix side, through Z:
    ASSERT_TRUE(folderExists(plain.path())) << "scripts/test.sh maps R:";
    std::string source = folder / "movie.avi";
    std::string bytes = randomBytes(100000, 99);
    writeFile(source, bytes);

    const std::string names[] = {plain / "a\\part01", folder / "b\\c\\part02", unixRoot / "part03"};
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(s.acceptDestination(names[i])) << names[i];
        EXPECT_EQ(s.text(DestField), names[i]);
        ASSERT_EQ(s.writePiece(i < 2 ? "40000" : "999999"), i < 2 ? Session::NextPiece : Session::Ended);
        if (i < 2) {
            EXPECT_EQ(s.text(DestField), names[i].substr(0, names[i].size() - 1) + char('2' + i));
        }
    }
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(names[0]), bytes.substr(0, 40000));
    EXPECT_EQ(readFile(names[1]), bytes.substr(40000, 40000));
    EXPECT_EQ(readFile(names[2]), bytes.substr(80000));

    // The script sits with the last piece and names the first piece that is missing there.
    std::string last = unixRoot.path();
    ASSERT_TRUE(fileExists(last + "\\movie.bat"));
    EXPECT_FALSE(anyScriptUnder(plain.path()));
    EXPECT_FALSE(anyScriptUnder(folder.path()));
    std::string output = rejoin(last, "movie.bat");
    EXPECT_NE(output.find("In the folder is not exist file part01"), std::string::npos) << output;
    EXPECT_EQ(output.find("part02"), std::string::npos) << output;
    EXPECT_TRUE(fileExists(names[2])) << "nothing is renamed while a piece is missing";
    EXPECT_FALSE(fileExists(last + "\\movie.avi"));

    ASSERT_TRUE(moveInto(names[0], last + "\\part01"));
    output = rejoin(last, "movie.bat");
    EXPECT_NE(output.find("In the folder is not exist file part02"), std::string::npos) << output;

    ASSERT_TRUE(moveInto(names[1], last + "\\part02"));
    output = rejoin(last, "movie.bat");
    EXPECT_EQ(sha256File(last + "\\movie.avi"), sha256(bytes)) << output;
    // Joined on the sizes alone (no certutil here): the pieces stay.
    EXPECT_EQ(filesUnder(last), (std::set<std::string>{"movie.avi", "movie.bat", "part01", "part02", "part03"}))
        << output;
    EXPECT_EQ(readFile(source), bytes);
}

TEST(Places, RelativeAndBackslashLedNamesAreBasedOnTheLatestPiecesFolder)
{
    TempFolder folder;
    std::string source = folder / "data.bin";
    std::string bytes = randomBytes(3000, 5);
    writeFile(source, bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    // Relative to the source's folder first, then to the folder of the piece before.
    ASSERT_TRUE(s.acceptDestination("x\\p1"));
    EXPECT_EQ(s.text(DestField), folder / "x\\p1");
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination("y\\q1"));
    EXPECT_EQ(s.text(DestField), folder / "x\\y\\q1");
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    std::string drive = folder.path().substr(0, 2);
    std::string rooted = folder.path().substr(2) + "\\r1";
    ASSERT_TRUE(s.acceptDestination(rooted));
    EXPECT_EQ(s.text(DestField), drive + rooted);
    ASSERT_EQ(s.writePiece("1000"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(folder / "x\\p1") + readFile(folder / "x\\y\\q1") + readFile(folder / "r1"), bytes);
    EXPECT_TRUE(fileExists(folder / "data.bat"));
}
