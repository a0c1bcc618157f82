// Choosing, checking and opening the source file.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int maxSourceNameLength = 94;  // leaves room for ".bat" in sourceName

// Makes folder the current directory; a bare drive "C:" means that drive's root.
int enterFolder(const char *folder);

// Reads a Source or Destination field into text (fieldTextLimit bytes). A longer text
// is refused with its first 248 characters, never cut and used: the cut text could
// name another file or folder. Returns 0 after reporting.
int readFieldText(HWND field, char *text);

void setupOpenDialog();
int chooseSource();
int checkSourceName();
// Whether a file or folder of that name exists; its size is read only once it is open.
int checkSource(const char *path);
// Refuses a source of `size` bytes, which 20 pieces of 999,999,999 bytes cannot hold.
int checkSourceSize(uint64_t size);
// Opens the source, loads its size into `remaining` and proposes the first destination.
// A source that cannot be opened or is too large changes nothing.
int openSource();
