// Answers the real message boxes that the code under test shows: a watcher thread finds
// each dialog of class "#32770" of this process, records what the user would see and
// presses the button the test chose.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SeenBox {
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    UINT icon = 0;              // MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION, ... or 0
    std::vector<int> buttons;   // visible buttons by id: IDOK, IDYES, IDNO, ...
    int defaultButton = 0;
};

class BoxAnswerer {
public:
    // The n-th box gets answers[n]; boxes after the last answer get the last one.
    explicit BoxAnswerer(std::vector<int> answers = {IDOK});
    // `whileOpen` runs on the watcher's thread while the n-th box (from 0) is open, before
    // it is answered: what a user does while reading it.
    BoxAnswerer(std::vector<int> answers, std::function<void(size_t n)> whileOpen);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer &) = delete;
    BoxAnswerer &operator=(const BoxAnswerer &) = delete;

    std::vector<SeenBox> boxes() const;
    size_t count() const;
    // Waits until `n` boxes have been answered or the timeout passes.
    bool waitFor(size_t n, DWORD timeoutMs = 10000) const;

private:
    static DWORD WINAPI watch(void *self);
    void poll();

    std::vector<int> answers_;
    std::function<void(size_t)> whileOpen_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> pressed_;
    mutable CRITICAL_SECTION lock_;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
};

// Reads a message box as the watcher does; exposed for tests of other processes' boxes.
SeenBox readMessageBox(HWND dialog);
bool isMessageBox(HWND window);
