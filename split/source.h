// Choosing, checking and opening the source file.
#pragma once

#include <windows.h>

constexpr int maxSourceNameLength = 94;  // leaves room for ".bat" in sourceName

// The name character rule: the characters after the last backslash, examined from the
// last one down to index `lowest`, are digits, latin letters, '_' or '.'.
// *namePart receives the start of the name part that a refusal quotes.
int followsNameRule(const char *path, int lowest, const char **namePart);
int isNameChar(unsigned char c);
// Names as Windows takes them: trailing dots and blanks dropped, case ignored (plain
// ASCII folding: a name that differs only in the case of another letter counts as other).
int resolvedLength(const char *name, int length);
int sameLetters(const char *a, const char *b, int length);
int sameFileName(const char *a, const char *b);
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
