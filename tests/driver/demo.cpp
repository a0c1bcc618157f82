// The headless demonstration behind `make run`: a complete split of a sample file into
// three pieces with the default names, driven through the real window of Kestrand.exe,
// then the rejoin script run by the interpreter and the result compared with the sample.
// With "at-work", the README's picture instead: the window while the second piece is being
// copied, its flask partly filled, then Cancel.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/batch.h"
#include "support/files.h"
#include "support/remote_window.h"

namespace {

const char *pieceSizes[] = {"1000000", "1000000", "999999999"};

// The picture's film and its second piece: long enough to copy that the shot comes while
// the flask fills, even where 32-bit code runs natively and nothing else runs.
const uint64_t filmSize = 1500000000;
const uint64_t workingPiece = 700000000;

bool fail(const char *what)
{
    printf("demo: %s\n", what);
    return false;
}

// Asks the runner's watcher outside Wine for a screenshot of the window (kestrand.png in
// the slot's folder) and waits for it.
void takeScreenshot(HWND window)
{
    const char *folder = getenv("KESTRAND_SCREENSHOTS");
    if (!folder) return;
    RECT r;
    GetWindowRect(window, &r);
    char geometry[64];
    wsprintfA(geometry, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::string base = std::string(folder) + "\\kestrand";
    DeleteFileA((base + ".done").c_str());
    writeFile(base + ".tmp", geometry);
    MoveFileExA((base + ".tmp").c_str(), (base + ".req").c_str(), MOVEFILE_REPLACE_EXISTING);
    waitUntil([&] { return fileExists(base + ".done"); }, 30000);
}

bool waitForDestinationStep(RemoteKestrand &k, int piece)
{
    std::string expected = "Separation\\0" + std::to_string(piece);
    return waitUntil([&] {
        HWND dest = k.control(22);
        std::string text = getText(dest);
        return IsWindowEnabled(dest) && text.size() >= expected.size() &&
               text.compare(text.size() - expected.size(), expected.size(), expected) == 0;
    });
}

// Shoots the window once the copy of the second piece has passed two fifths; the shot
// counts only if the piece had not passed four fifths when it was done, so the flask in
// the picture is between a fifth and four fifths full. Cancel ends the copy either way.
bool shootWhileCopying(RemoteKestrand &k, const std::string &piece)
{
    postClick(k.control(28));
    bool copying = waitUntil([&] { return fileSize(piece) >= workingPiece / 5 * 2; }, 600000);
    if (copying) takeScreenshot(k.window);
    uint64_t after = fileSize(piece);
    postClick(k.control(29));
    if (!copying) return fail("the second piece was not being copied");
    if (after > workingPiece / 5 * 4)
        return fail("the copy went past four fifths before the shot was done: take it again");
    printf("demo: the shot was taken with %u of %u bytes of piece 2 copied\n", unsigned(after),
           unsigned(workingPiece));
    return true;
}

// Takes the piece through its destination step to its size step.
bool reachSizeStep(RemoteKestrand &k, int piece)
{
    if (!waitForDestinationStep(k, piece)) return fail("the destination step did not come");
    postClick(k.control(28));
    if (!waitUntil([&] { return IsWindowEnabled(k.control(23)) != 0; })) return fail("no size step");
    return true;
}

bool showAtWork(RemoteKestrand &k, const std::string &folder)
{
    postClick(k.control(28));  // the source named on the command line
    if (!reachSizeStep(k, 1)) return false;
    setText(k.control(23), pieceSizes[0]);
    postClick(k.control(28));
    if (!reachSizeStep(k, 2)) return false;
    setText(k.control(23), std::to_string(workingPiece));
    return shootWhileCopying(k, folder + "\\Separation\\02");
}

bool splitSample(RemoteKestrand &k)
{
    postClick(k.control(28));  // the source named on the command line
    for (int piece = 1; piece <= 3; ++piece) {
        if (!reachSizeStep(k, piece)) return false;
        setText(k.control(23), pieceSizes[piece - 1]);
        if (piece == 2) takeScreenshot(k.window);
        postClick(k.control(28));
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    bool atWork = argc == 5 && std::string(argv[4]) == "at-work";
    if (argc != 4 && !atWork) {
        printf("usage: kestrand_demo KESTRAND_EXE SAMPLE_FOLDER SAMPLE_NAME [at-work]\n");
        return 2;
    }
    std::string exe = argv[1], folder = argv[2], name = argv[3];
    std::string sample = folder + "\\" + name;
    std::string bytes;
    if (atWork) {
        makeSparseFile(sample, filmSize);
    } else {
        bytes = randomBytes(2500000, 20261207);
        writeFile(sample, bytes);
    }

    RemoteKestrand k;
    if (!launchKestrand(exe, sample, folder, k)) return fail("Kestrand's window did not appear"), 1;
    bool shown = atWork ? showAtWork(k, folder) : splitSample(k);
    long code = waitForExit(k, 60000);
    closeRemote(k);
    if (!shown) return 1;
    if (code != 0) return fail("Kestrand did not end with exit code 0"), 1;
    if (atWork) return 0;

    // The script renames and deletes the pieces it joins, so it runs on copies of them,
    // as on the receiving side, and the pieces themselves stay for a look.
    std::string pieces = folder + "\\Separation", joined = folder + "\\received";
    std::string script = name.substr(0, name.rfind('.')) + ".bat";
    if (!fileExists(pieces + "\\" + script)) return fail("no rejoin script was written"), 1;
    CreateDirectoryA(joined.c_str(), nullptr);
    for (const std::string &file : {std::string("01"), std::string("02"), std::string("03"), script})
        if (!CopyFileA((pieces + "\\" + file).c_str(), (joined + "\\" + file).c_str(), FALSE))
            return fail("a piece is missing"), 1;
    BatchRun run = runBatch(joined, script);
    if (!run.finished) return fail("the rejoin script did not finish"), 1;
    if (!fileExists(joined + "\\" + name)) return fail("the script did not join the pieces"), 1;
    if (readFile(joined + "\\" + name) != bytes) return fail("the joined file differs from the sample"), 1;
    printf("demo: split %s into 3 pieces, joined them with %s: identical (%u bytes)\n", sample.c_str(),
           script.c_str(), unsigned(bytes.size()));
    return 0;
}
