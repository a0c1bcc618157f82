// The rules about file names, in one place: which names a split accepts, when two names
// are one file, the names the joining script uses, and the stepping of piece names.
#pragma once

#include <cstdint>

constexpr char joinedName[] = "_z._9";  // the joined file until it has the source's name

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

// The script's temporary name for piece n (from 0): "_0._9" to "_9._9", then "_a._9" to
// "_j._9"; name holds 8 bytes.
void temporaryName(uint32_t n, char *name);
// Whether a name is one the script gives a file of its own while it joins: a piece's
// temporary name or joinedName.
int isJoinTemporaryName(const char *name);

// The script's name of the given try for a source name (1 for its usual name): its last extension (a full stop
// at the first position does not count) replaced by ".bat", or ".bat" appended, and
// appended too when the replacement would give the source's own name ("run.bat.bat");
// from the second try on "_2" and so on before ".bat". 0 when it does not fit in size bytes.
int makeScriptName(const char *sourceName, int number, char *scriptName, int size);

// Proposing the next piece's name: the number in destPath, plus one. Returns 1 when a
// digit of destPath changed, 0 when destPath is as it was.
int stepDestinationName();
