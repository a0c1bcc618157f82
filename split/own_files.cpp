#include "split/own_files.h"

#include <cstring>

namespace {

constexpr DWORD passingLockMs = 2000;
constexpr DWORD lockPollMs = 50;

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
        DWORD error = GetLastError();
        *holds = isAbsent(error) ? holdsNothing : holdsFileInUse;
        SetLastError(error);  // the caller tells a passing lock by it
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

int isPassingLock(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

int waitOutPassingLock(DWORD error, DWORD started)
{
    if (!isPassingLock(error) || GetTickCount() - started >= passingLockMs ||
        state.copyState.load(std::memory_order_relaxed) != Active)
        return 0;
    Sleep(lockPollMs);
    return 1;
}

int emptyOpenFile(HANDLE file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The file is held, shared for deletion only, from the check to the delete: nobody can
// write it meanwhile.
PathHolds deleteOwnFile(const char *path, const PieceIdentity &made)
{
    HANDLE file = openForIdentity(path, FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) return whatPathHolds(path, made);
    PieceIdentity now;
    readIdentity(file, &now);
    PathHolds holds = sameIdentity(now, made) ? holdsOwnFile : holdsOtherFile;
    if (holds == holdsOwnFile) DeleteFileA(path);
    CloseHandle(file);
    return holds;
}
