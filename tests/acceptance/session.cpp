#include "acceptance/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

const char sourcePhase[] = "10010011";
const char destinationPhase[] = "01000011";
const char sizePhase[] = "00101111";
const char writingPhase[] = "00000001";

std::string kestrandExe()
{
    // Wine shows the Unix root as Z:.
    std::string path = "Z:" + std::string(KESTRAND_EXE);
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

// ---- SHA-256, so that whole files can be compared without holding them twice ----

namespace {

const uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct Sha256 {
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char block[64];
    size_t used = 0;
    uint64_t total = 0;

    void compress(const unsigned char *p)
    {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + roundConstants[i] + w[i];
            uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            k = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += k;
    }
    void add(const unsigned char *p, size_t n)
    {
        total += n;
        if (used) {
            while (n && used < 64) { block[used++] = *p++; --n; }
            if (used < 64) return;
            compress(block);
            used = 0;
        }
        for (; n >= 64; n -= 64, p += 64) compress(p);
        memcpy(block, p, n);
        used = n;
    }
    std::string finish()
    {
        uint64_t bits = total * 8;
        unsigned char pad = 0x80, zero = 0;
        add(&pad, 1);
        while (used != 56) add(&zero, 1);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i) length[i] = (unsigned char)(bits >> (56 - 8 * i));
        add(length, 8);
        char hex[65];
        for (int i = 0; i < 8; ++i) sprintf(hex + 8 * i, "%08x", unsigned(h[i]));
        return hex;
    }
};

}  // namespace

std::string sha256(const std::string &bytes)
{
    Sha256 s;
    s.add(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    return s.finish();
}

std::string sha256File(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "missing " + path;
    static unsigned char chunk[1 << 20];
    Sha256 s;
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) s.add(chunk, got);
    CloseHandle(f);
    return s.finish();
}

namespace {

void collect(const std::string &root, const std::string &relative, std::set<std::string> &into)
{
    WIN32_FIND_DATAA found;
    std::string base = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileA((base + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string child = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            collect(root, child, into);
        else
            into.insert(child);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::set<std::string> filesUnder(const std::string &folder)
{
    std::set<std::string> files;
    collect(folder, "", files);
    return files;
}

bool anyScriptUnder(const std::string &folder)
{
    for (const std::string &f : filesUnder(folder)) {
        if (f.size() >= 4 && lstrcmpiA(f.c_str() + f.size() - 4, ".bat") == 0) return true;
    }
    return false;
}

std::string rejoin(const std::string &folder, const std::string &script, DWORD timeoutMs, const std::string &answers)
{
    BatchRun run = runBatch(folder, script, answers, timeoutMs);
    return run.finished ? run.output : run.output + "\n(the script did not finish in time)";
}

std::string withoutCarriageReturns(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

void writeSparseFile(const std::string &path, uint64_t size,
                     const std::vector<std::pair<uint64_t, std::string>> &bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(size);
    SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
    SetEndOfFile(f);
    for (const auto &piece : bytes) {
        at.QuadPart = LONGLONG(piece.first);
        SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
        DWORD written = 0;
        WriteFile(f, piece.second.data(), DWORD(piece.second.size()), &written, nullptr);
    }
    CloseHandle(f);
}

std::string smallDrive()
{
    const char *drive = getenv("KESTRAND_SMALL_DRIVE");
    if (!drive || !folderExists(std::string(drive) + "\\")) return "";
    return drive;
}

namespace {

uint64_t fakeDriveFigure(const char *name)
{
    const char *text = getenv(name);
    char *end = nullptr;
    unsigned long long value = text ? strtoull(text, &end, 10) : 0;
    if (!text || end == text || *end || value == 0)
        throw std::runtime_error(std::string("no fake disk: ") + name + " is not set (scripts/test.sh mounts one)");
    return value;
}

}  // namespace

uint64_t fakeDriveKeeps() { return fakeDriveFigure("KESTRAND_FAKE_DRIVE_KEEPS"); }
uint64_t fakeDriveClaims() { return fakeDriveFigure("KESTRAND_FAKE_DRIVE_CLAIMS"); }

std::string fakeDrive()
{
    const char *drive = getenv("KESTRAND_FAKE_DRIVE");
    if (!drive || !*drive)
        throw std::runtime_error("no fake disk: KESTRAND_FAKE_DRIVE is not set (scripts/test.sh mounts one)");
    ULARGE_INTEGER total{};
    if (!GetDiskFreeSpaceExA((std::string(drive) + "\\").c_str(), nullptr, &total, nullptr) ||
        total.QuadPart != fakeDriveClaims())
        throw std::runtime_error(std::string("no fake disk on ") + drive + ": not mounted, or it claims another size");
    return drive;
}

DriveFolder::DriveFolder(const std::string &drive, const std::string &tag)
{
    char name[64];
    wsprintfA(name, "\\acc%s%lu", tag.c_str(), GetCurrentProcessId());
    path_ = drive + name;
    removeTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

DriveFolder::~DriveFolder() { removeTree(path_); }

// ---- the running program ----

Session::~Session() { closeRemote(k); }

bool Session::start(const std::string &tail, const std::string &folder)
{
    return launchKestrand(kestrandExe(), tail, folder, k, 30000, [&] {
        if (!messageBoxOf(pid())) return;
        SeenBox seen = answer(IDOK, 5000);
        if (seen.caption != "<none>") early.push_back(seen);
    });
}

std::string Session::enabled() const
{
    const int ids[] = {SourceField, DestField, SizeField, BrowseButton, ChangeButton, MaxButton, OkButton, CancelButton};
    std::string pattern;
    for (int id : ids) pattern += IsWindowEnabled(control(id)) ? '1' : '0';
    return pattern;
}

HWND Session::focus() const
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    auto read = [&] {
        GetGUIThreadInfo(k.process.dwThreadId, &info);
        return info.hwndFocus != nullptr;
    };
    if (read()) return info.hwndFocus;
    // Tests running alongside may have taken the activation: a thread that is not active
    // has no focus to show. Bring the window back as a user would click on it.
    SetForegroundWindow(k.window);
    waitUntil(read, 3000);
    return info.hwndFocus;
}

bool Session::alive() const { return WaitForSingleObject(k.process.hProcess, 0) == WAIT_TIMEOUT; }

bool Session::waitPhase(const char *phase, DWORD timeoutMs)
{
    bool reached = waitUntil([&] { return enabled() == phase || messageBoxOf(pid()) || !alive(); }, timeoutMs);
    return reached && enabled() == phase;
}

SeenBox Session::answer(int button, DWORD timeoutMs, const std::function<void()> &whileOpen)
{
    SeenBox seen;
    seen.caption = "<none>";
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = messageBoxOf(pid())) != nullptr; }, timeoutMs)) return seen;
    Sleep(20);  // let the box finish its own set-up
    seen = readMessageBox(box);
    if (seen.icon == 0xFFFF) seen.icon = iconOfBox(box);
    if (whileOpen) whileOpen();
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    waitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
    return seen;
}

bool Session::noBoxFor(DWORD ms)
{
    return !waitUntil([&] { return messageBoxOf(pid()) != nullptr; }, ms);
}

bool Session::acceptSource(const std::string &path)
{
    type(SourceField, path);
    press(OkButton);
    return waitPhase(destinationPhase);
}

bool Session::acceptDestination(const std::string &typed)
{
    if (!typed.empty()) type(DestField, typed);
    press(OkButton);
    return waitPhase(sizePhase);
}

// Ok as the program's debugger: once the attach has ended in its breakpoint, the next
// thread created is the piece writer's, reported before it runs, with every thread of
// the program stopped until the event is continued.
void Session::pressOkCatchingWriter(const std::function<void()> &whileCaught)
{
    if (!DebugActiveProcess(pid())) return;
    DebugSetProcessKillOnExit(FALSE);
    bool attached = false, caught = false;
    DEBUG_EVENT event;
    while (!caught && WaitForDebugEvent(&event, 20000)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: CloseHandle(event.u.CreateProcessInfo.hFile); break;
        case LOAD_DLL_DEBUG_EVENT: CloseHandle(event.u.LoadDll.hFile); break;
        case CREATE_THREAD_DEBUG_EVENT:
            if (attached) whileCaught();
            caught = attached;
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (!attached && event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
                attached = true;
                press(OkButton);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        default: break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugActiveProcessStop(pid());
    if (!attached) press(OkButton);
}

Session::Outcome Session::writePiece(const std::string &size, DWORD timeoutMs,
                                     const std::function<void()> &whileCaught)
{
    std::string before = text(DestField);
    type(SizeField, size);
    if (whileCaught)
        pressOkCatchingWriter(whileCaught);
    else
        press(OkButton);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (!alive()) return Ended;
        if (messageBoxOf(pid())) {
            SeenBox seen = answer(IDOK, 5000);
            if (seen.caption != "<none>") boxes.push_back(seen);
            continue;
        }
        if (enabled() == destinationPhase) return text(DestField) == before ? Failed : NextPiece;
        Sleep(5);
    }
    return Stuck;
}

// ---- screenshots ----

namespace {

std::string shotFolder()
{
    const char *folder = getenv("KESTRAND_SCREENSHOTS");
    return folder && folderExists(folder) ? folder : "";
}

bool readBmp(const std::string &path, Shot &shot)
{
    std::string bytes = readFile(path);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    auto word = [&](size_t at) {
        return uint32_t((unsigned char)bytes[at]) | uint32_t((unsigned char)bytes[at + 1]) << 8 |
               uint32_t((unsigned char)bytes[at + 2]) << 16 | uint32_t((unsigned char)bytes[at + 3]) << 24;
    };
    uint32_t offset = word(10);
    int32_t width = int32_t(word(18)), height = int32_t(word(22));
    int bits = (unsigned char)bytes[28] | (unsigned char)bytes[29] << 8;
    if (bits != 24 && bits != 32) return false;
    bool bottomUp = height > 0;
    if (height < 0) height = -height;
    size_t stride = ((size_t(width) * bits / 8) + 3) & ~size_t(3);
    if (bytes.size() < offset + stride * height) return false;
    shot.width = width;
    shot.height = height;
    shot.rgb.assign(size_t(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        const unsigned char *row =
            reinterpret_cast<const unsigned char *>(bytes.data()) + offset + stride * (bottomUp ? height - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = row + size_t(x) * (bits / 8);
            shot.rgb[size_t(y) * width + x] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
    return true;
}

}  // namespace

bool screenshotsAvailable() { return !shotFolder().empty(); }

// Icon handles do not cross processes, so a box's icon is told by its pixels: the shot
// of its icon control against each system icon drawn here on the same background.
UINT iconOfBox(HWND box)
{
    HWND control = GetDlgItem(box, 0x0440);
    if (!control || !screenshotsAvailable()) return 0xFFFF;
    // One test at a time lifts its box above every window for the shot.
    HANDLE screen = CreateMutexA(nullptr, FALSE, "KestrandAcceptanceScreen");
    WaitForSingleObject(screen, 60000);
    SetWindowPos(box, HWND_TOPMOST, 240, 330, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    Sleep(100);
    char name[64];
    static int count = 0;
    wsprintfA(name, "box-icon-%lu-%d", GetCurrentProcessId(), ++count);
    Shot shot;
    bool shotTaken = takeShot(control, name, shot);
    SetWindowPos(box, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ReleaseMutex(screen);
    CloseHandle(screen);
    if (!shotTaken || shot.width < 32 || shot.height < 32) return 0xFFFF;
    struct { LPCSTR id; UINT kind; } known[] = {
        {IDI_HAND, MB_ICONERROR}, {IDI_EXCLAMATION, MB_ICONWARNING},
        {IDI_QUESTION, MB_ICONQUESTION}, {IDI_ASTERISK, MB_ICONINFORMATION}};
    for (auto &k : known) {
        Shot drawn = renderIcon(LoadIconA(nullptr, k.id), shot.at(0, 0), shot.width, shot.height);
        if (drawn.rgb == shot.rgb) return k.kind;
    }
    return 0xFFFF;
}

void placeForShots(HWND window, int x, int y)
{
    SetWindowPos(window, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    Sleep(100);
}

bool takeShot(HWND window, const std::string &name, Shot &shot)
{
    std::string folder = shotFolder();
    if (folder.empty()) return false;
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    char geometry[64];
    wsprintfA(geometry, "%ldx%ld+%ld+%ld\n", client.right, client.bottom, origin.x, origin.y);
    std::string base = folder + "\\" + name;
    DeleteFileA((base + ".done").c_str());
    writeFile(base + ".tmp", geometry);
    MoveFileExA((base + ".tmp").c_str(), (base + ".req").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!waitUntil([&] { return fileExists(base + ".done"); }, 30000)) return false;
    return readBmp(base + ".bmp", shot);
}

namespace {

struct Canvas {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    void *bits = nullptr;
    int width, height;
    Canvas(int w, int h, uint32_t colour) : width(w), height(h)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        old = SelectObject(dc, bitmap);
        HBRUSH brush = CreateSolidBrush(RGB(colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF));
        RECT all{0, 0, w, h};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    Shot shot()
    {
        GdiFlush();
        Shot s;
        s.width = width;
        s.height = height;
        const uint32_t *p = static_cast<const uint32_t *>(bits);
        s.rgb.assign(p, p + size_t(width) * height);
        for (uint32_t &c : s.rgb) c &= 0xFFFFFF;
        return s;
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
};

}  // namespace

Shot renderIcon(HICON icon, uint32_t background, int width, int height)
{
    Canvas canvas(width, height, background);
    DrawIconEx(canvas.dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    return canvas.shot();
}

Shot renderText(const std::string &text, int width, int height)
{
    Shot shot;
    shot.width = width;
    shot.height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH background = CreateSolidBrush(RGB(0, 196, 188));
    RECT all{0, 0, width, height};
    FillRect(dc, &all, background);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetBkMode(dc, TRANSPARENT);
    TextOutA(dc, 0, 0, text.c_str(), int(text.size()));
    GdiFlush();
    const uint32_t *p = static_cast<const uint32_t *>(bits);
    shot.rgb.assign(p, p + size_t(width) * height);
    for (uint32_t &c : shot.rgb) c &= 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteObject(background);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return shot;
}
