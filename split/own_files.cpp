#include "split/own_files.h"

#include <cstring>

namespace {

int isAbsent(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opened for its attributes only, so no other program's use of the file is in the way.
HANDLE openForIdentity(const char *path, DWORD share)
{
    return CreateFileA(path, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

void readIdentity(HANDLE file, PieceIdentity *identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    memset(identity, 0, sizeof *identity);
    if (!GetFileInformationByHandle(file, &info)) return;
    identity->volume = info.dwVolumeSerialNumber;
    identity->indexHigh = info.nFileIndexHigh;
    identity->indexLow = info.nFileIndexLow;
    identity->sizeHigh = info.nFileSizeHigh;
    identity->sizeLow = info.nFileSizeLow;
    identity->lastWrite = info.ftLastWriteTime;
    identity->known = 1;
}

int sameIdentity(const PieceIdentity &a, const PieceIdentity &b)
{
    return a.known && b.known && a.volume == b.volume && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow && a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow &&
           a.lastWrite.dwHighDateTime == b.lastWrite.dwHighDateTime &&
           a.lastWrite.dwLowDateTime == b.lastWrite.dwLowDateTime;
}

int sameFile(const PieceIdentity &a, const PieceIdentity &b)
{
    return a.known && b.known && a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

void identityAt(const char *path, PieceIdentity *identity)
{
    memset(identity, 0, sizeof *identity);
    HANDLE file = openForIdentity(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) return;
    readIdentity(file, identity);
    CloseHandle(file);
}

PathHolds whatPathHolds(const char *path, const PieceIdentity &made)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && isAbsent(GetLastError())) return holdsNothing;
    PieceIdentity now;
    identityAt(path, &now);
    return sameIdentity(now, made) ? holdsOwnFile : holdsOtherFile;
}

int closeAndRecord(HANDLE file, const char *path, PieceIdentity *identity)
{
    PieceIdentity open;
    readIdentity(file, &open);
    int closed = CloseHandle(file) ? 1 : 0;
    identityAt(path, identity);
    if (!open.known || identity->volume != open.volume || identity->indexHigh != open.indexHigh ||
        identity->indexLow != open.indexLow)
        identity->known = 0;
    return closed;
}

HANDLE openOwnFile(const char *path, const PieceIdentity &made, PathHolds *holds)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *holds = isAbsent(GetLastError()) ? holdsNothing : holdsFileInUse;
        return file;
    }
    PieceIdentity now;
    readIdentity(file, &now);
    if (sameIdentity(now, made)) {
        *holds = holdsOwnFile;
        return file;
    }
    CloseHandle(file);
    *holds = holdsOtherFile;
    return INVALID_HANDLE_VALUE;
}

int emptyOpenFile(HANDLE file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

namespace {

// FILE_DISPOSITION_INFO and FILE_DISPOSITION_INFORMATION alike: one BOOLEAN.
struct DeleteDisposition {
    BOOLEAN deleteFile;
};
struct IoStatus {
    union {
        LONG status;
        void *pointer;
    };
    ULONG_PTR information;
};
using SetFileInformationByHandleCall = BOOL(WINAPI *)(HANDLE, int, void *, DWORD);
using NtSetInformationFileCall = LONG(NTAPI *)(HANDLE, IoStatus *, void *, ULONG, int);
constexpr int fileDispositionInfo = 4;          // FILE_INFO_BY_HANDLE_CLASS, Vista on
constexpr int fileDispositionInformation = 13;  // FILE_INFORMATION_CLASS, NT on

// Neither is imported: kernel32's call came with Vista, and ntdll is no DLL the exe names.
FARPROC platformCall(const char *module, const char *name)
{
    HMODULE loaded = GetModuleHandleA(module);
    return loaded ? GetProcAddress(loaded, name) : nullptr;
}

template <typename Call>
Call asCall(FARPROC proc)
{
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

int deleteThroughHandleByKernel32(HANDLE file)
{
    auto call = asCall<SetFileInformationByHandleCall>(platformCall("kernel32.dll", "SetFileInformationByHandle"));
    DeleteDisposition disposition{TRUE};
    return call && call(file, fileDispositionInfo, &disposition, sizeof disposition) ? 1 : 0;
}

int deleteThroughHandleByNtdll(HANDLE file)
{
    auto call = asCall<NtSetInformationFileCall>(platformCall("ntdll.dll", "NtSetInformationFile"));
    DeleteDisposition disposition{TRUE};
    IoStatus io{};
    return call && call(file, &io, &disposition, sizeof disposition, fileDispositionInformation) >= 0 ? 1 : 0;
}

int deleteThroughHandle(HANDLE file)
{
    if (platformCall("kernel32.dll", "SetFileInformationByHandle")) return deleteThroughHandleByKernel32(file);
    return deleteThroughHandleByNtdll(file);
}

// The file is held unshared from the check to the delete, and deleted through that very
// handle: no one can rename it away and put another file under its name meanwhile. A file
// someone else has open is kept.
PathHolds deleteOwnFile(const char *path, const PieceIdentity &made)
{
    HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        PathHolds holds = whatPathHolds(path, made);
        return holds == holdsOwnFile ? holdsFileInUse : holds;
    }
    PieceIdentity now;
    readIdentity(file, &now);
    PathHolds holds = holdsOtherFile;
    if (sameIdentity(now, made)) holds = deleteThroughHandle(file) ? holdsOwnFile : holdsFileInUse;
    CloseHandle(file);
    return holds;
}
