#include "split/source.h"

#include <windows.h>
#include <commdlg.h>

#include <cstdlib>
#include <cstring>

#include "split/names.h"
#include "state/report.h"
#include "state/split_state.h"

namespace {

const char ruleText[] = "Use, please, digits,latin letters and '_' only: ";
const char defaultPieceName[] = "\\Separation\\01";
const char temporaryNameText[] =
    "%s is a name the joining script uses for its temporary files, so a file of this name "
    "could not be joined again.\r\nRename it before splitting it.";
const char tooLargeSourceText[] =
    "%s is too large to split: 20 pieces of at most 999,999,999 bytes hold at most "
    "19,999,999,980 bytes.";
constexpr DWORD browseFlags = OFN_CREATEPROMPT | OFN_HIDEREADONLY;

}  // namespace

int enterFolder(const char *folder)
{
    char root[4];
    if (folder[0] && folder[1] == ':' && folder[2] == 0) {
        // "C:" alone would mean the drive's current folder, not its root.
        root[0] = folder[0];
        root[1] = ':';
        root[2] = '\\';
        root[3] = 0;
        folder = root;
    }
    return SetCurrentDirectoryA(folder) ? 1 : 0;
}

int readFieldText(HWND field, char *text)
{
    GetWindowTextA(field, text, fieldTextLimit);
    if (GetWindowTextLengthA(field) >= fieldTextLimit) return reportOpenError(text);
    return 1;
}

void setupOpenDialog()
{
    GetCurrentDirectoryA(fieldTextLimit, state.destPath);
    OPENFILENAMEA &d = state.openDialog;
    memset(&d, 0, sizeof d);
    d.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // the older, shorter record
    d.hwndOwner = state.mainWindow;
    d.lpstrFile = state.sourcePath;
    d.nMaxFile = fieldTextLimit;
    d.lpstrFileTitle = state.sourceName;
    d.nMaxFileTitle = sizeof state.sourceName;
    d.lpstrInitialDir = state.destPath;
    d.Flags = 0;
}

int chooseSource()
{
    state.openDialog.Flags = browseFlags;
    return GetOpenFileNameA(&state.openDialog);
}

int checkSourceName()
{
    if (!readFieldText(state.sourceEdit, state.sourcePath)) return 0;
    if (state.sourcePath[0] == 0) return tellUser("Source file didn't defind", MB_OK);
    const char *name;
    if (!followsNameRule(state.sourcePath, 0, &name)) {
        wsprintfA(state.textBuffer, "%s%s", ruleText, name);
        return reportInfeasibleName(state.textBuffer);
    }
    if (isJoinTemporaryName(name)) {
        wsprintfA(state.textBuffer, temporaryNameText, name);
        return reportInfeasibleName(state.textBuffer);
    }
    return 1;
}

int checkSource(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return reportOpenError(path);
    FindClose(search);
    return 1;
}

int checkSourceSize(uint64_t size)
{
    if (size <= uint64_t(maxPieces) * largestPiece) return 1;
    wsprintfA(state.textBuffer, tooLargeSourceText, state.sourcePath);
    return tellUser(state.textBuffer, MB_OK | MB_ICONWARNING);
}

int openSource()
{
    // Large enough that _fullpath fails only for a real fault, not for length.
    char full[4 * pathSize];
    if (!_fullpath(full, state.sourcePath, sizeof full)) return reportOpenError(state.sourcePath);
    const char *slash = strrchr(full, '\\');
    if (!slash) return reportOpenError(state.sourcePath);
    size_t folderLength = size_t(slash - full);
    if (strlen(full) >= size_t(fieldTextLimit) ||
        folderLength + sizeof defaultPieceName > size_t(fieldTextLimit) ||
        strlen(slash + 1) > size_t(maxSourceNameLength))
        return reportInfeasibleName(full);

    // The size is the open file's: a folder listing may still show an older one (a file
    // written through another of its links keeps its old size in this link's entry).
    HANDLE source = CreateFileA(full, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) return reportOpenError(state.sourcePath);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(source, &size)) {
        CloseHandle(source);
        return reportOpenError(state.sourcePath);
    }
    // A refused source is let go, and nothing of the split is set up for it.
    if (!checkSourceSize(uint64_t(size.QuadPart))) {
        CloseHandle(source);
        return 0;
    }

    state.sourceHandle = source;
    state.remaining = fromBytes(DWORD(uint64_t(size.QuadPart) >> 32), DWORD(size.QuadPart));
    memcpy(state.destPath, full, folderLength);
    state.destPath[folderLength] = 0;
    enterFolder(state.destPath);
    strcpy(state.textBuffer, state.destPath);
    strcpy(state.baseFolder, state.destPath);
    strcat(state.destPath, defaultPieceName);
    strcpy(state.sourceName, slash + 1);
    return 1;
}
