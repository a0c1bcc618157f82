#include "support/message_boxes.h"

namespace {

constexpr int iconControlId = 0x0440;  // the message box's icon static (stc1)
constexpr int textControlId = 0xFFFF;

UINT iconKind(HWND dialog)
{
    HWND iconControl = GetDlgItem(dialog, iconControlId);
    if (!iconControl || !IsWindowVisible(iconControl)) return 0;
    HICON icon = (HICON)SendMessageA(iconControl, STM_GETICON, 0, 0);
    if (!icon) return 0;
    struct { LPCSTR id; UINT kind; } known[] = {
        {IDI_HAND, MB_ICONERROR},
        {IDI_EXCLAMATION, MB_ICONWARNING},
        {IDI_QUESTION, MB_ICONQUESTION},
        {IDI_ASTERISK, MB_ICONINFORMATION},
    };
    for (auto &k : known)
        if (LoadIconA(nullptr, k.id) == icon) return k.kind;
    return 0xFFFF;  // an icon, but none of the system's
}

struct Finder {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM param)
{
    Finder *f = reinterpret_cast<Finder *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == f->process && isMessageBox(window)) f->found.push_back(window);
    return TRUE;
}

}  // namespace

bool isMessageBox(HWND window)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpA(name, "#32770") == 0 && IsWindowVisible(window) &&
           GetDlgItem(window, textControlId) != nullptr;
}

SeenBox readMessageBox(HWND dialog)
{
    SeenBox box;
    char text[4096] = "";
    box.owner = GetWindow(dialog, GW_OWNER);
    GetWindowTextA(dialog, text, sizeof text);
    box.caption = text;
    text[0] = 0;
    GetDlgItemTextA(dialog, textControlId, text, sizeof text);
    box.text = text;
    box.icon = iconKind(dialog);
    const int ids[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};
    for (int id : ids) {
        HWND button = GetDlgItem(dialog, id);
        if (button && IsWindowVisible(button)) box.buttons.push_back(id);
    }
    LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID) box.defaultButton = LOWORD(def);
    // Wine's Yes/No boxes still answer IDOK here; their default shows in the button style.
    bool named = false;
    for (int id : box.buttons) named = named || id == box.defaultButton;
    if (!named)
        for (int id : box.buttons)
            if ((GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                box.defaultButton = id;
    return box;
}

BoxAnswerer::BoxAnswerer(std::vector<int> answers) : BoxAnswerer(std::move(answers), nullptr) {}

BoxAnswerer::BoxAnswerer(std::vector<int> answers, std::function<void(size_t n)> whileOpen)
    : answers_(std::move(answers)), whileOpen_(std::move(whileOpen))
{
    InitializeCriticalSection(&lock_);
    thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr);
}

BoxAnswerer::~BoxAnswerer()
{
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    DeleteCriticalSection(&lock_);
}

std::vector<SeenBox> BoxAnswerer::boxes() const
{
    EnterCriticalSection(&lock_);
    std::vector<SeenBox> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

size_t BoxAnswerer::count() const
{
    EnterCriticalSection(&lock_);
    size_t n = seen_.size();
    LeaveCriticalSection(&lock_);
    return n;
}

bool BoxAnswerer::waitFor(size_t n, DWORD timeoutMs) const
{
    DWORD start = GetTickCount();
    while (count() < n) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

DWORD WINAPI BoxAnswerer::watch(void *self)
{
    BoxAnswerer *answerer = static_cast<BoxAnswerer *>(self);
    while (!InterlockedCompareExchange(&answerer->stop_, 0, 0)) {
        answerer->poll();
        Sleep(5);
    }
    return 0;
}

void BoxAnswerer::poll()
{
    Finder finder{GetCurrentProcessId(), {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&finder));
    // Forget boxes that have closed, so a new box with a reused handle is seen.
    std::vector<HWND> still;
    for (HWND w : pressed_)
        if (IsWindow(w)) still.push_back(w);
    pressed_.swap(still);
    for (HWND dialog : finder.found) {
        bool done = false;
        for (HWND w : pressed_) done = done || w == dialog;
        if (done) continue;
        SeenBox box = readMessageBox(dialog);
        EnterCriticalSection(&lock_);
        size_t n = seen_.size();
        seen_.push_back(box);
        LeaveCriticalSection(&lock_);
        if (whileOpen_) whileOpen_(n);
        int answer = answers_.empty() ? IDOK : answers_[n < answers_.size() ? n : answers_.size() - 1];
        HWND button = GetDlgItem(dialog, answer);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)button);
        pressed_.push_back(dialog);
    }
}
