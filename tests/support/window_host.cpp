#include "support/window_host.h"

#include "app/main_window.h"
#include "split/piece_writer.h"
#include "state/split_state.h"

namespace {

bool quitArrived = false;

}  // namespace

bool startWindow(const std::string &tail)
{
    endWindow();
    quitArrived = false;
    return startKestrand(GetModuleHandleA(nullptr), tail.c_str(), SW_SHOWNORMAL) == 1;
}

void endWindow()
{
    if (state.mainWindow && IsWindow(state.mainWindow)) {
        state.copyState.store(Stopped);
        DestroyWindow(state.mainWindow);
    }
    waitForPieceWriter();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    UnregisterClassA("Kestrand", GetModuleHandleA(nullptr));
    resetSplitState();
}

bool pumpUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitArrived = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        if (quitArrived || GetTickCount() - start > timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

bool quitSeen()
{
    return quitArrived;
}

void pump(DWORD ms)
{
    DWORD start = GetTickCount();
    pumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

std::string enabledControls()
{
    HWND controls[] = {state.sourceEdit, state.destEdit,  state.sizeEdit, state.browseButton,
                       state.changeButton, state.maxButton, state.okButton, state.cancelButton};
    std::string row;
    for (HWND c : controls) row += IsWindowEnabled(c) ? '1' : '0';
    return row;
}

std::string windowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void typeInto(HWND edit, const std::string &text)
{
    SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)text.c_str());
}

bool press(HWND button)
{
    if (!IsWindowEnabled(button) || !IsWindowVisible(button)) return false;
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}

void pressEnter(HWND edit)
{
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
}

int stepNow()
{
    return state.step;
}
