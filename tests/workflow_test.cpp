// The dialogue driven through the real window hosted in the test process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "count/decimal_count.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/window_host.h"
#include "support/workflow_fixture.h"
#include "state/report.h"
#include "state/split_state.h"


TEST_F(Workflow, WholeSplitWithDefaultNames)
{
    std::string bytes = randomBytes(2500, 7);
    std::string source = folder / "data.bin";
    writeFile(source, bytes);
    BoxAnswerer answerer;

    acceptSource(source);
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\01");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_EQ(GetFocus(), state.destEdit);
    EXPECT_EQ(state.remaining.low, 2500u);

    acceptDestination();
    EXPECT_EQ(enabledControls(), sizePhase);
    EXPECT_EQ(GetFocus(), state.sizeEdit);
    EXPECT_TRUE(fileExists(folder / "Separation\\01"));

    writePiece("1000");
    EXPECT_EQ(state.step, 4);
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\02");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_EQ(GetFocus(), state.destEdit);
    EXPECT_EQ(state.remaining.low, 1500u);
    EXPECT_EQ(state.gaugeLevel.load(), 0);

    acceptDestination();
    EXPECT_EQ(windowText(state.sizeEdit), "1000");  // the last size stays offered
    typeInto(state.sizeEdit, "");
    pressEnter(state.sizeEdit);  // Enter with an empty field does nothing
    EXPECT_EQ(state.step, 5);
    writePiece("1000");
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\03");

    acceptDestination();
    // Max shows the figure last measured, capped at nine nines.
    state.freeSpace = DecimalCount{1, 0, 0};
    ASSERT_TRUE(press(state.maxButton));
    EXPECT_EQ(windowText(state.sizeEdit), "999999999");
    state.freeSpace = DecimalCount{0, 5, 7};
    ASSERT_TRUE(press(state.maxButton));
    EXPECT_EQ(windowText(state.sizeEdit), "500007");
    ASSERT_TRUE(press(state.okButton));
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));

    EXPECT_EQ(answerer.count(), 0u);
    EXPECT_EQ(readFile(folder / "Separation\\01"), bytes.substr(0, 1000));
    EXPECT_EQ(readFile(folder / "Separation\\02"), bytes.substr(1000, 1000));
    EXPECT_EQ(readFile(folder / "Separation\\03"), bytes.substr(2000));
    std::string script = readFile(folder / "Separation\\data.bat");
    // Each piece's size as it was written, and the joined size.
    EXPECT_NE(script.find("\r\nfor %%s in (03) do if \"%%~zs\"==\"500\" goto 3\r\n"), std::string::npos);
    EXPECT_NE(script.find("\r\nfor %%s in (_z._9) do if not \"%%~zs\"==\"2500\" goto failed\r\n"), std::string::npos);
    EXPECT_NE(script.find("ren _z._9 data.bin"), std::string::npos);
}

TEST_F(Workflow, EmptyFieldsAreRefusedWhereTheyStand)
{
    std::string source = folder / "data.bin";
    writeFile(source, "0123456789");
    BoxAnswerer answerer;
    acceptSource(source);

    typeInto(state.destEdit, "");
    SetFocus(state.okButton);
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(GetFocus(), state.destEdit);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].text, "Destination file didn't defind");
    EXPECT_EQ(boxes[0].icon, 0u);
    EXPECT_EQ(boxes[0].owner, state.mainWindow);

    typeInto(state.destEdit, folder / "p01");
    acceptDestination();
    SetFocus(state.okButton);
    ASSERT_TRUE(press(state.okButton));  // empty size: nothing but the focus
    EXPECT_EQ(state.step, 3);
    EXPECT_EQ(GetFocus(), state.sizeEdit);
    EXPECT_EQ(enabledControls(), sizePhase);
    EXPECT_EQ(answerer.count(), 1u);
}

TEST_F(Workflow, ChangeGoesBackAndRemovesTheEmptyPiece)
{
    std::string source = folder / "data.bin";
    writeFile(source, "0123456789");
    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "5");
    ASSERT_TRUE(press(state.changeButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(windowText(state.sizeEdit), "");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_FALSE(fileExists(folder / "Separation\\01"));
    EXPECT_TRUE(folderExists(folder / "Separation"));

    typeInto(state.destEdit, folder / "other\\p1");
    acceptDestination();
    writePiece("10");
    EXPECT_TRUE(quitSeen());
    EXPECT_EQ(readFile(folder / "other\\p1"), "0123456789");
    EXPECT_TRUE(fileExists(folder / "other\\data.bat"));
}

TEST_F(Workflow, CancelWhileAPieceIsWrittenLeavesNoScript)
{
    std::string source = folder / "large.bin";
    makeSparseFile(source, 600000000);

    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "999999999");
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(enabledControls(), writingPhase);
    ASSERT_TRUE(pumpUntil([] { return state.gaugeLevel.load() >= 2; }));
    // A renewed attempt keeps the Destination field open while it writes: Enter there is
    // Ok, and must not start a second writer on the piece.
    BoxAnswerer answerer({IDOK});
    SendMessageA(state.destEdit, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(state.pieceStart.QuadPart, 0) << "the piece was set up again";
    EXPECT_EQ(state.step, 3);
    EXPECT_EQ(enabledControls(), writingPhase);
    ASSERT_TRUE(press(state.cancelButton));
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_EQ(state.writerRunning.load(), 0u);
    EXPECT_EQ(state.pieceCount, 0u);
    WIN32_FILE_ATTRIBUTE_DATA piece;
    ASSERT_TRUE(GetFileAttributesExA((folder / "Separation\\01").c_str(), GetFileExInfoStandard, &piece));
    EXPECT_GT(piece.nFileSizeLow, 0u);
    EXPECT_LT(piece.nFileSizeLow, 600000000u);
    EXPECT_FALSE(fileExists(folder / "Separation\\large.bat"));
    EXPECT_EQ(answerer.count(), 0u);
}

TEST_F(Workflow, ClosingWhileAPieceIsWrittenWaitsForTheWriter)
{
    std::string source = folder / "large.bin";
    makeSparseFile(source, 600000000);

    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "999999999");
    ASSERT_TRUE(press(state.okButton));
    ASSERT_TRUE(pumpUntil([] { return state.gaugeLevel.load() >= 1; }));
    SendMessageA(state.mainWindow, WM_CLOSE, 0, 0);
    // When the close returns, the writer has let go of everything teardown released.
    EXPECT_EQ(state.writerRunning.load(), 0u);
    EXPECT_EQ(state.sourceHandle, nullptr);
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_FALSE(fileExists(folder / "Separation\\large.bat"));
}

// A failed piece is said in a box of the window's own, before Ok and Destination come back;
// held longer than a passing lock, the piece file fails the piece alone, and Ok writes it
// again in place once it is free.
TEST_F(Workflow, AFailedPieceIsSaidBeforeOkComesBack)
{
    std::string bytes = randomBytes(5000, 9);
    std::string source = folder / "data.bin";
    writeFile(source, bytes);
    acceptSource(source);
    acceptDestination();
    std::string piece = folder / "Separation\\01";
    HANDLE held = CreateFileA(piece.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BOOL okWhileShown = TRUE, destinationWhileShown = TRUE;
    BoxAnswerer answerer({IDOK}, [&](size_t) {
        okWhileShown = IsWindowEnabled(state.okButton);
        destinationWhileShown = IsWindowEnabled(state.destEdit);
        CloseHandle(held);
    });
    writePiece("3000");
    ASSERT_TRUE(pieceFailedShown());
    ASSERT_EQ(answerer.count(), 1u);
    SeenBox box = answerer.boxes()[0];
    EXPECT_EQ(box.text, "Piece 1 could not be written to " + piece +
                            ": Sharing violation. "
                            "Ok writes the piece again; a new Destination writes it elsewhere.");
    EXPECT_EQ(box.caption, "Kestrand");
    EXPECT_EQ(box.icon, UINT(MB_ICONWARNING));
    EXPECT_EQ(box.owner, state.mainWindow);
    EXPECT_FALSE(okWhileShown);
    EXPECT_FALSE(destinationWhileShown);
    EXPECT_EQ(enabledControls(), failedPhase);

    writePiece("3000");
    EXPECT_EQ(state.step, 4);
    EXPECT_EQ(readFile(piece), bytes.substr(0, 3000));
    EXPECT_EQ(answerer.count(), 1u);

    // The other two messages, with the platform's words on one line and no full stop (Wine's
    // words: Windows says "Reached the end of the file." and "There is not enough space on
    // the disk.").
    state.failureKind.store(failedSourceRead);
    state.failureError.store(ERROR_HANDLE_EOF);
    state.step = 5;
    reportFailedPiece();
    state.failureKind.store(failedReadBack);
    strcpy(state.destPath, "F:\\p02");
    reportFailedPiece();
    reportFailedPiece();  // nothing recorded: nothing said
    ASSERT_TRUE(answerer.waitFor(3));
    EXPECT_FALSE(answerer.waitFor(4, 500));
    EXPECT_EQ(answerer.boxes()[1].text,
              "Piece 2 could not be read from the file being split: End of file. Ok tries again.");
    EXPECT_EQ(answerer.boxes()[2].text,
              "Piece 2 on F:\\p02 does not give back the bytes just written to it: the disk may be failing, or "
              "smaller than it claims. Ok writes the piece again; a new Destination writes it elsewhere.");
    char text[64];
    systemText(ERROR_DISK_FULL, text, sizeof text);
    EXPECT_STREQ(text, "Disk full");
    systemText(0x2badf00d, text, sizeof text);
    EXPECT_STREQ(text, "error 732819469");
}
