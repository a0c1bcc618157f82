// The acceptance suite's view of Kestrand.exe: one running program per Session, driven
// as a user drives it, judged only by its window, its message boxes and the files it leaves.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/batch.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/remote_window.h"

// Control ids of the main window.
enum : int { SourceField = 21, DestField = 22, SizeField = 23, BrowseButton = 25, ChangeButton = 26,
             MaxButton = 27, OkButton = 28, CancelButton = 29 };

// Enabled controls in the order Source, Destination, Dimension, Browse, Change, Max, Ok, Cancel.
extern const char sourcePhase[];
extern const char destinationPhase[];  // also the phase after a failed piece
extern const char sizePhase[];
extern const char writingPhase[];

std::string kestrandExe();
std::string sha256File(const std::string &path);
std::string sha256(const std::string &bytes);
// Every file under folder, as paths relative to it.
std::set<std::string> filesUnder(const std::string &folder);
bool anyScriptUnder(const std::string &folder);
// Runs the rejoin script in folder with the interpreter; returns what it printed.
// `answers` are the lines typed into the script's questions and its "cmd /k" windows.
std::string rejoin(const std::string &folder, const std::string &script, DWORD timeoutMs = 300000,
                   const std::string &answers = "exit\r\nexit\r\nexit\r\n");
std::string withoutCarriageReturns(std::string text);
// A file of `size` bytes that holds holes, with `bytes` written at each offset.
void writeSparseFile(const std::string &path, uint64_t size,
                     const std::vector<std::pair<uint64_t, std::string>> &bytes);
std::string smallDrive();  // "S:" when the test runner mounted one, else ""
// The disk that fakes its size (F:, scripts/wine-slots.sh): it claims fakeDriveClaims()
// bytes and keeps fakeDriveKeeps(); what is written past that gives back other bytes. A file
// named eio* fails every read that reaches 64 KiB; one named slow* holds its first such read
// (again once emptied): F:\slowread appears, and the read goes on once F:\slowgo exists.
// Each throws, failing the test, when the test runner mounted no such disk.
std::string fakeDrive();
uint64_t fakeDriveKeeps();
uint64_t fakeDriveClaims();
// A folder of this process on a drive root such as "R:", removed at the end.
class DriveFolder {
public:
    DriveFolder(const std::string &drive, const std::string &tag);
    ~DriveFolder();
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Starts the program; message boxes shown before its window appears are answered with
    // OK and kept in `early`.
    bool start(const std::string &tail = "", const std::string &folder = "");
    HWND control(int id) const { return k.control(id); }
    HWND window() const { return k.window; }
    DWORD pid() const { return k.process.dwProcessId; }
    std::string enabled() const;
    HWND focus() const;
    std::string text(int id) const { return getText(control(id)); }
    void type(int id, const std::string &text) { setText(control(id), text); }
    void press(int id) { postClick(control(id)); }
    bool alive() const;
    bool waitPhase(const char *phase, DWORD timeoutMs = 20000);
    // The next message box of the program, answered with `button`; caption "<none>" if none came.
    // `whileOpen` runs while the box shows, before it is answered: what the user does meanwhile.
    SeenBox answer(int button = IDOK, DWORD timeoutMs = 20000, const std::function<void()> &whileOpen = nullptr);
    // True when no message box shows within the time.
    bool noBoxFor(DWORD ms);
    long exitCode(DWORD timeoutMs = 60000) { return waitForExit(k, timeoutMs); }

    // Whole steps; each asserts what it needs through its result.
    bool acceptSource(const std::string &path);
    bool acceptDestination(const std::string &typed = "");  // empty: the proposed name
    // Ok at the size step, then waits for the piece's end: the next destination, the failed
    // phase or the program's exit. A box shown meanwhile is answered and kept in `boxes`.
    // With `whileCaught`, Ok is pressed with this process as the program's debugger, and
    // `whileCaught` runs when the piece writer's thread is created: the whole program
    // stands still then, and the writer has not written a byte.
    enum Outcome { NextPiece, Failed, Ended, Stuck };
    Outcome writePiece(const std::string &size, DWORD timeoutMs = 120000,
                       const std::function<void()> &whileCaught = nullptr);

    void pressOkCatchingWriter(const std::function<void()> &whileCaught);

    std::vector<SeenBox> early;  // boxes before the window
    std::vector<SeenBox> boxes;  // boxes answered by writePiece

    RemoteKestrand k;
};

// Screenshots of the window's client area through the runner's watcher (ImageMagick's
// import on the Xvfb display); each kept as NAME.png and NAME.bmp under the build folder.
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, row by row from the top
    uint32_t at(int x, int y) const { return rgb[size_t(y) * width + x]; }
};
bool screenshotsAvailable();
// Moves the window, above all others, to a place of the screen where no other test's
// window stands, so that a screenshot shows this window only.
void placeForShots(HWND window, int x, int y);
bool takeShot(HWND window, const std::string &name, Shot &shot);
constexpr uint32_t backgroundColour = 0x00C4BC;
constexpr uint32_t emptyColour = 0x00641E;
constexpr uint32_t fillColour = 0x50FA78;
// A message box's icon kind (MB_ICONERROR, ...), told from a screenshot of it.
UINT iconOfBox(HWND box);
Shot renderIcon(HICON icon, uint32_t background, int width, int height);
// Text as the window's paint pass draws it, rendered here on the background colour.
Shot renderText(const std::string &text, int width, int height);
