// Choosing, checking and opening the source file.
#pragma once

#include <windows.h>

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
int checkSource(const char *path, int withSize);
// Refuses a source, its size in `remaining`, that 20 pieces of 999,999,999 bytes cannot hold.
int checkSourceSize();
int openSource();
