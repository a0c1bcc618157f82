// The headless demonstration behind `make run`: a complete split of a sample file into
// three pieces with the default names, driven through the real window of Kestrand.exe,
// then the rejoin script run by the interpreter and the result compared with the sample.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/batch.h"
#include "support/files.h"
#include "support/remote_window.h"

namespace {

const char *pieceSizes[] = {"1000000", "1000000", "999999999"};

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

bool splitSample(RemoteKestrand &k)
{
    postClick(k.control(28));  // the source named on the command line
    for (int piece = 1; piece <= 3; ++piece) {
        if (!waitForDestinationStep(k, piece)) return fail("the destination step did not come");
        postClick(k.control(28));
        if (!waitUntil([&] { return IsWindowEnabled(k.control(23)) != 0; })) return fail("no size step");
        setText(k.control(23), pieceSizes[piece - 1]);
        if (piece == 2) takeScreenshot(k.window);
        postClick(k.control(28));
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        printf("usage: kestrand_demo KESTRAND_EXE SAMPLE_FOLDER SAMPLE_NAME\n");
        return 2;
    }
    std::string exe = argv[1], folder = argv[2], name = argv[3];
    std::string sample = folder + "\\" + name;
    std::string bytes = randomBytes(2500000, 20261207);
    writeFile(sample, bytes);

    RemoteKestrand k;
    if (!launchKestrand(exe, sample, folder, k)) return fail("Kestrand's window did not appear"), 1;
    bool split = splitSample(k);
    long code = waitForExit(k, 60000);
    closeRemote(k);
    if (!split) return 1;
    if (code != 0) return fail("Kestrand did not end with exit code 0"), 1;

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
