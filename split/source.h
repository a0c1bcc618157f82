// Choosing, checking and opening the source file.
#pragma once

constexpr int maxSourceNameLength = 94;  // leaves room for ".bat" in sourceName

// The name character rule: the characters after the last backslash, examined from the
// last one down to index `lowest`, are digits, latin letters, '_' or '.'.
// *namePart receives the start of the name part that a refusal quotes.
int followsNameRule(const char *path, int lowest, const char **namePart);
int isNameChar(unsigned char c);
// Makes folder the current directory; a bare drive "C:" means that drive's root.
int enterFolder(const char *folder);

void setupOpenDialog();
int chooseSource();
int checkSourceName();
int checkSource(const char *path, int withSize);
int openSource();
