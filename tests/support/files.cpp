#include "support/files.h"

#include <cctype>
#include <random>
#include <stdexcept>

std::string tempRoot()
{
    char buffer[MAX_PATH] = "";
    GetTempPathA(sizeof buffer, buffer);
    std::string root = buffer;
    if (!root.empty() && root.back() == '\\') root.pop_back();
    return root;
}

void removeTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

bool fileExists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void writeFile(const std::string &path, const std::string &bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1 << 20)), written = 0;
        if (!WriteFile(f, bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    CloseHandle(f);
    if (done != bytes.size()) throw std::runtime_error("short write to " + path);
}

std::string readFile(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    std::string bytes;
    char buffer[1 << 16];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(f);
    return bytes;
}

std::string randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char &c : bytes) c = char(random() & 0xFF);
    return bytes;
}

void makeSparseFile(const std::string &path, uint64_t size)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    BOOL sized = SetFilePointerEx(f, end, nullptr, FILE_BEGIN) && SetEndOfFile(f);
    CloseHandle(f);
    if (!sized) throw std::runtime_error("cannot size " + path);
}

bool fillDrive(const std::string &path, uint64_t leave)
{
    std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr) || free.QuadPart < leave) return false;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    static char block[1 << 16];
    uint64_t left = free.QuadPart - leave;
    DWORD written = 0;
    while (left > 0) {
        DWORD chunk = DWORD(left < sizeof block ? left : sizeof block);
        if (!WriteFile(f, block, chunk, &written, nullptr) || written != chunk) break;
        left -= chunk;
    }
    CloseHandle(f);
    return left == 0;
}

std::string currentFolder()
{
    char buffer[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

TempFolder::TempFolder(const std::string &under)
{
    static LONG counter = 0;
    std::string base = under.empty() ? tempRoot() : under;
    for (;;) {
        char name[64];
        wsprintfA(name, "kt%lu_%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        path_ = base + "\\" + name;
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
}

TempFolder::~TempFolder()
{
    // Leave the folder first, or it cannot be removed.
    if (currentFolder().rfind(path_, 0) == 0) SetCurrentDirectoryA(tempRoot().c_str());
    removeTree(path_);
}

std::string fileBytes(const std::string &path)
{
    return fileExists(path) ? readFile(path) : std::string("<missing>");
}

uint64_t fileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

namespace {

bool sameFolder(const std::string &a, const std::string &b)
{
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::string *paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE folder = CreateFileA(paths[i]->c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                    FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE) return false;
        BOOL read = GetFileInformationByHandle(folder, &info[i]);
        CloseHandle(folder);
        if (!read) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::string backslashed(std::string path)
{
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace

std::string byRootDrive(const std::string &path)
{
    using UnixName = char *(__cdecl *)(const WCHAR *);
    FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(proc));
    WCHAR wide[MAX_PATH];
    if (!unixName || path.size() < 3 || path[1] != ':' || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *name = unixName(wide);
    if (!name) return "";
    std::string rooted = "Z:" + backslashed(name);
    HeapFree(GetProcessHeap(), 0, name);
    // Wine names the drive by its link in dosdevices ("...\dosdevices\s:\..."), which no
    // user would type: the folder the link leads to instead, C:'s or the test runner's.
    char letter = char(tolower(path[0]));
    std::string link = std::string("\\dosdevices\\") + letter + ":";
    size_t at = rooted.find(link);
    if (at == std::string::npos) return rooted;
    std::string prefix = rooted.substr(0, at), rest = rooted.substr(at + link.size());
    std::string drive = path.substr(0, 2) + "\\";
    for (std::string target : {prefix + "\\drive_" + letter, prefix + "\\..\\drives\\" + letter}) {
        char full[MAX_PATH];
        DWORD length = GetFullPathNameA(target.c_str(), MAX_PATH, full, nullptr);
        if (length && length < MAX_PATH && sameFolder(full, drive)) return full + rest;
    }
    return rooted;
}
