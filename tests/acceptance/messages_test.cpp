// Every message of the dialogue, raised the way a user raises it, read from the real box.
#include <gtest/gtest.h>

#include "acceptance/session.h"

namespace {

const char infeasible[] = "Use, please, digits,latin letters and '_' only: ";
const std::vector<int> okOnly{IDOK};
const std::vector<int> yesNo{IDYES, IDNO};

class Messages : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = folder / "data.bin";
        bytes = randomBytes(3000, 77);
        writeFile(source, bytes);
        ASSERT_TRUE(s.start("", folder.path()));
    }
    void TearDown() override
    {
        if (s.alive()) {
            s.press(CancelButton);
            EXPECT_EQ(s.exitCode(), 0);
        }
        EXPECT_EQ(readFile(source), bytes);
    }
    // Presses Ok and returns the box it raises, answered with `button`.
    SeenBox okBox(int button = IDOK)
    {
        s.press(OkButton);
        return s.answer(button);
    }
    void toDestination() { ASSERT_TRUE(s.acceptSource(source)); }
    void toSize()
    {
        toDestination();
        ASSERT_TRUE(s.acceptDestination());
    }
    void expectBox(const SeenBox &box, const std::string &caption, const std::string &text, UINT icon,
                   const std::vector<int> &buttons)
    {
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(withoutCarriageReturns(box.text), text);
        EXPECT_EQ(box.icon, icon);
        EXPECT_EQ(box.buttons, buttons);
        EXPECT_EQ(box.owner, s.window());
    }

    TempFolder folder;
    std::string source, bytes;
    Session s;
};

}  // namespace

TEST_F(Messages, EmptyFieldsAreRefusedWhereTheyStand)
{
    SeenBox box = okBox();
    expectBox(box, "Kestrand", "Source file didn't defind", 0, okOnly);
    EXPECT_TRUE(s.waitPhase(sourcePhase));

    toDestination();
    s.type(DestField, "");
    box = okBox();
    expectBox(box, "Kestrand", "Destination file didn't defind", 0, okOnly);
    EXPECT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_TRUE(waitUntil([&] { return s.focus() == s.control(DestField); }));

    s.type(DestField, folder / "Separation\\01");
    ASSERT_TRUE(s.acceptDestination());
    s.type(SizeField, "");
    s.press(OkButton);
    EXPECT_TRUE(s.noBoxFor(700)) << "an empty size is refused silently";
    EXPECT_EQ(s.enabled(), sizePhase);
    EXPECT_EQ(s.focus(), s.control(SizeField));
}

TEST_F(Messages, SourceNamesThatBreakTheRuleOrCannotBeOpened)
{
    s.type(SourceField, folder / "da ta.bin");
    expectBox(okBox(), "Infeasible name", std::string(infeasible) + "da ta.bin", 0, okOnly);
    EXPECT_TRUE(s.waitPhase(sourcePhase));

    // Its script could not join a source named like one of its temporary files.
    writeFile(folder / "_J._9", "x");
    s.type(SourceField, folder / "_J._9");
    expectBox(okBox(), "Infeasible name",
              "_J._9 is a name the joining script uses for its temporary files, so a file of this name could not "
              "be joined again.\nRename it before splitting it.",
              0, okOnly);
    EXPECT_TRUE(s.waitPhase(sourcePhase));

    std::string missing = folder / "missing.bin";
    s.type(SourceField, missing);
    expectBox(okBox(), "Error opening file", missing, MB_ICONERROR, okOnly);

    std::string sub = folder / "sub.dir";
    CreateDirectoryA(sub.c_str(), nullptr);
    s.type(SourceField, sub);
    expectBox(okBox(), "Error opening file", sub, MB_ICONERROR, okOnly);

    // Held open by another program (this one) without sharing.
    HANDLE held = CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    s.type(SourceField, source);
    expectBox(okBox(), "Error opening file", source, MB_ICONERROR, okOnly);
    CloseHandle(held);
    EXPECT_TRUE(s.waitPhase(sourcePhase));

    // Once it is free the same text is accepted.
    EXPECT_TRUE(s.acceptSource(source));
}

TEST_F(Messages, DestinationNamesThatBreakTheRule)
{
    toDestination();
    s.type(DestField, folder / "p 1");
    expectBox(okBox(), "Infeasible name", std::string(infeasible) + "p 1", 0, okOnly);
    EXPECT_EQ(s.text(DestField), folder / "p 1");

    const char *devices[] = {"CON", "nul", "Com1", "lpt9.txt", "aux.dat", "PRN"};
    for (const char *device : devices) {
        s.type(DestField, folder / device);
        expectBox(okBox(), "Infeasible name", std::string(infeasible) + device, 0, okOnly);
    }

    std::string doubled = folder.path() + "\\\\p1";
    s.type(DestField, doubled);
    expectBox(okBox(), "Infeasible name", doubled, 0, okOnly);
    EXPECT_TRUE(s.waitPhase(destinationPhase));

    // A folder can take no piece: refused before any question, and left as it is.
    std::string sub = folder / "sub";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    s.type(DestField, sub);
    expectBox(okBox(), "Kestrand", sub + " is a folder. Type a file name.", MB_ICONWARNING, okOnly);
    EXPECT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_TRUE(folderExists(sub));

    EXPECT_TRUE(s.acceptDestination(folder / "fine\\p1"));
    EXPECT_EQ(filesUnder(folder.path()), (std::set<std::string>{"data.bin", "fine\\p1"}));
}

TEST_F(Messages, ExistingDestinationIsReplacedOnlyOnYesAndOnlyByItsPiece)
{
    std::string piece = folder / "Separation\\01";
    CreateDirectoryA((folder / "Separation").c_str(), nullptr);
    writeFile(piece, "keep me");
    toDestination();
    SeenBox box = okBox(IDNO);
    expectBox(box, "Kestrand", piece + " already exists.\nDo you want to replace it?", MB_ICONQUESTION, yesNo);
    EXPECT_EQ(box.defaultButton, IDNO);
    EXPECT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), "keep me");

    // The question shows the user the wrong disk; the disk is changed while it is open.
    // "Yes" was about the file asked about: the one there now is asked about in turn.
    s.press(OkButton);
    s.answer(IDYES, 20000, [&] {
        DeleteFileA(piece.c_str());
        writeFile(piece, "another disk's");
    });
    box = s.answer(IDNO);
    EXPECT_EQ(withoutCarriageReturns(box.text), piece + " already exists.\nDo you want to replace it?");
    EXPECT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), "another disk's");

    // "Yes" leaves the file whole until its piece is written: going back keeps it.
    box = okBox(IDYES);
    EXPECT_EQ(box.caption, "Kestrand");
    ASSERT_TRUE(s.waitPhase(sizePhase));
    EXPECT_EQ(readFile(piece), "another disk's");
    s.press(ChangeButton);
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), "another disk's") << "Change after Yes";

    // Changed between the destination and the size: nothing is written into the file there
    // now; back at the piece's destination, whose question comes again.
    okBox(IDYES);
    ASSERT_TRUE(s.waitPhase(sizePhase));
    ASSERT_TRUE(DeleteFileA(piece.c_str()));
    writeFile(piece, std::string(5000, 'x'));
    ASSERT_EQ(s.writePiece("1000"), Session::Failed);
    ASSERT_EQ(s.boxes.size(), 1u);
    expectBox(s.boxes[0], "Kestrand",
              piece + "\nis no longer the file made for this piece: another disk or another file is there now.\n"
                      "Nothing was written or deleted. Confirm the destination again.",
              MB_ICONWARNING, okOnly);
    EXPECT_EQ(readFile(piece), std::string(5000, 'x'));
    EXPECT_EQ(s.text(DestField), piece);
    box = okBox(IDYES);
    EXPECT_EQ(withoutCarriageReturns(box.text), piece + " already exists.\nDo you want to replace it?");
    ASSERT_TRUE(s.waitPhase(sizePhase));
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    EXPECT_EQ(readFile(piece), bytes.substr(0, 1000)) << "the file became the piece, and only it";

    // Yes, then Cancel: the user's file is left as it was.
    std::string next = folder / "Separation\\02";
    writeFile(next, "the user's 02");
    EXPECT_EQ(okBox(IDYES).caption, "Kestrand");
    ASSERT_TRUE(s.waitPhase(sizePhase));
    s.press(CancelButton);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(next), "the user's 02");
    EXPECT_EQ(filesUnder(folder.path()), (std::set<std::string>{"data.bin", "Separation\\01", "Separation\\02"}));
}

TEST_F(Messages, SizesThatAreTooLongOrNotDigits)
{
    toSize();
    s.type(SizeField, "1000000000");
    expectBox(okBox(), "Kestrand", "Number of Bytes less 1000000000!", 0, okOnly);
    EXPECT_TRUE(s.waitPhase(sizePhase));
    // A pasted text gets past the field's digits-only typing.
    for (const char *pasted : {"12a", "-5", "1 000", "+7"}) {
        s.type(SizeField, pasted);
        expectBox(okBox(), "Kestrand", "Use digits only for the number of bytes.", 0, okOnly);
        EXPECT_TRUE(s.waitPhase(sizePhase)) << pasted;
    }
    EXPECT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_EQ(readFile(folder / "Separation\\01"), bytes);
}

TEST_F(Messages, NamesAlreadyUsedByThisSplitAreRefused)
{
    toSize();
    ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
    std::string used = " is already used by this split.\nChoose another name for this piece.";
    // The source's own name too, in any folder: beside the source, its script would take
    // the source for that piece.
    const char *names[] = {"01", "other\\01", "01.", "DATA.BAT", "_3._9", "_z._9", "other\\data.bin", "Data.Bin."};
    for (const char *name : names) {
        std::string typed = folder / name;
        s.type(DestField, typed);
        expectBox(okBox(), "Kestrand", typed + used, MB_ICONWARNING, okOnly);
        EXPECT_TRUE(s.waitPhase(destinationPhase)) << name;
    }
    EXPECT_EQ(readFile(folder / "Separation\\01"), bytes.substr(0, 1000));
    EXPECT_FALSE(fileExists(folder / "DATA.BAT"));
    EXPECT_FALSE(folderExists(folder / "other"));
}

// No split is started that 20 pieces cannot finish: the 20th must take the rest.
TEST_F(Messages, PieceLimitWarnsAfterThe19thAndThe20thMustHoldTheRest)
{
    toDestination();
    std::string foreign = folder / "15";
    writeFile(foreign, "not a piece");
    std::string pieces = folder / "Separation", more = folder / "more";
    std::set<std::string> expected{"data.bin", "15", "Separation\\12"};
    for (int piece = 1; piece <= 20; ++piece) {
        if (piece == 11) {
            // The rest go elsewhere; a file that merely shares a piece's name stays.
            s.type(DestField, more + "\\11");
        }
        ASSERT_TRUE(s.acceptDestination()) << "piece " << piece;
        if (piece == 12) writeFile(pieces + "\\12", "also not a piece");
        char name[8];
        wsprintfA(name, "%02d", piece);
        expected.insert((piece <= 10 ? "Separation\\" : "more\\") + std::string(name));
        if (piece == 20) break;
        ASSERT_EQ(s.writePiece("100"), Session::NextPiece) << "piece " << piece;
        if (piece == 19) {
            ASSERT_EQ(s.boxes.size(), 1u);
            expectBox(s.boxes[0], "Kestrand", "Limit of Destination files number is 20", MB_ICONWARNING, okOnly);
        }
    }
    // 1,900 bytes written, 1,100 left: less is refused before anything is written.
    for (const char *tooSmall : {"100", "1099"}) {
        s.type(SizeField, tooSmall);
        expectBox(okBox(), "Kestrand", "Piece 20 must hold the rest of the file: 1,100 bytes.", MB_ICONWARNING,
                  okOnly);
        EXPECT_TRUE(s.waitPhase(sizePhase)) << tooSmall;
        EXPECT_EQ(readFile(more + "\\20"), "") << tooSmall;
    }
    ASSERT_EQ(s.writePiece("1100"), Session::Ended);
    EXPECT_EQ(s.boxes.size(), 1u) << "no second warning after the 20th";
    EXPECT_EQ(s.exitCode(), 0);
    expected.insert("more\\data.bat");
    EXPECT_EQ(filesUnder(folder.path()), expected);
    EXPECT_EQ(readFile(more + "\\20"), bytes.substr(1900));
    EXPECT_EQ(readFile(foreign), "not a piece");
    EXPECT_EQ(readFile(pieces + "\\12"), "also not a piece");
}

// Sources of about 19 GB, holes but for their ends.
TEST_F(Messages, SizesThatTwentyPiecesCannotFinishAreRefusedBeforeAnythingIsWritten)
{
    const uint64_t limit = 20 * 999999999ull;
    std::string over = folder / "over.bin", full = folder / "full.bin", nearly = folder / "nearly.bin";
    writeSparseFile(over, limit + 1, {{limit - 9, "the end..."}});
    writeSparseFile(full, limit, {{limit - 9, "the end.."}});
    s.type(SourceField, over);
    expectBox(okBox(), "Kestrand",
              over + " is too large to split: 20 pieces of at most 999,999,999 bytes hold at most 19,999,999,980 "
                     "bytes.",
              MB_ICONWARNING, okOnly);
    EXPECT_TRUE(s.waitPhase(sourcePhase));
    ASSERT_TRUE(s.acceptSource(full));
    s.press(CancelButton);
    EXPECT_EQ(s.exitCode(), 0);

    // 1,000 bytes more than 19 full pieces: the first must take at least those.
    writeSparseFile(nearly, 19 * 999999999ull + 1000, {{0, bytes.substr(0, 2000)}});
    Session t;
    ASSERT_TRUE(t.start("", folder.path()));
    ASSERT_TRUE(t.acceptSource(nearly));
    ASSERT_TRUE(t.acceptDestination());
    std::string least = "Piece 1 must hold at least 1,000 bytes: the pieces after it, up to the 20th, hold at most "
                        "999,999,999 bytes each.";
    t.type(SizeField, "999");
    t.press(OkButton);
    SeenBox box = t.answer();
    EXPECT_EQ(box.caption, "Kestrand");
    EXPECT_EQ(box.text, least);
    EXPECT_EQ(box.icon, UINT(MB_ICONWARNING));
    ASSERT_TRUE(t.waitPhase(sizePhase));
    EXPECT_EQ(readFile(folder / "Separation\\01"), "") << "nothing written";
    ASSERT_EQ(t.writePiece("1000"), Session::NextPiece);
    EXPECT_EQ(readFile(folder / "Separation\\01"), bytes.substr(0, 1000));
    // Now every later piece must be full.
    ASSERT_TRUE(t.acceptDestination());
    t.type(SizeField, "999999998");
    t.press(OkButton);
    box = t.answer();
    EXPECT_EQ(box.text, "Piece 2 must hold at least 999,999,999 bytes: the pieces after it, up to the 20th, hold at "
                        "most 999,999,999 bytes each.");
    ASSERT_TRUE(t.waitPhase(sizePhase));
    EXPECT_EQ(readFile(folder / "Separation\\02"), "");
    t.press(CancelButton);
    EXPECT_EQ(t.exitCode(), 0);
}

namespace {

DWORD WINAPI letGoSoon(void *file)
{
    Sleep(300);
    CloseHandle(file);
    return 0;
}

}  // namespace

// A scanner or a sync client may hold a new piece file: this process holds it unshared.
// Held for a moment, the piece is written as if nothing had happened; held for longer, the
// piece fails with the write message, the split goes on, and Ok writes it again in place.
TEST_F(Messages, APieceFileHeldByAnotherProgramIsWaitedForThenSaid)
{
    toSize();
    std::string piece = folder / "Separation\\01";
    HANDLE held = INVALID_HANDLE_VALUE;
    auto hold = [&] { held = CreateFileA(piece.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); };
    // Taken while the writer's thread is being made, let go 300 ms after: the writer's
    // first open meets it.
    ASSERT_EQ(s.writePiece("1000", 120000, [&] {
        hold();
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        HANDLE letGo = CreateThread(nullptr, 0, letGoSoon, held, 0, nullptr);
        ASSERT_NE(letGo, nullptr);
        CloseHandle(letGo);
    }), Session::NextPiece);
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_EQ(readFile(piece), bytes.substr(0, 1000));

    ASSERT_TRUE(s.acceptDestination());
    std::string second = folder / "Separation\\02";
    piece = second;
    s.type(SizeField, "1500");
    s.pressOkCatchingWriter(hold);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SeenBox box = s.answer(IDOK, 60000, [&] { CloseHandle(held); });
    expectBox(box, "Kestrand",
              "Piece 2 could not be written to " + second +
                  ": Sharing violation. Ok writes the piece again; a new Destination writes it elsewhere.",
              MB_ICONWARNING, okOnly);
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(s.text(DestField), second);
    EXPECT_EQ(readFile(second), "");
    // From the failed phase, which shows as a destination phase: done once the next name shows.
    s.press(OkButton);
    ASSERT_TRUE(waitUntil([&] { return s.text(DestField) == folder / "Separation\\03"; }, 60000));
    EXPECT_TRUE(s.noBoxFor(500));
    EXPECT_EQ(readFile(second), bytes.substr(1000, 1500));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    std::string output = rejoin(folder / "Separation", "data.bat");
    EXPECT_EQ(readFile(folder / "Separation\\data.bin"), bytes) << output;
}
