// The batch script that joins the pieces back with the interpreter's own copy /b.
#pragma once

// Writes the script into the current folder under the first free one of its names, and
// names it in a notice when that is not the usual one; returns 0 after reporting a failure.
int writeRejoinScript();

// The script's usual file name for a source name: its last extension (a full stop at the
// first position does not count) replaced by ".bat", or ".bat" appended; and appended
// too when the replacement would give the source's own name ("run.bat.bat").
// Returns 0 when the name does not fit in size bytes.
int makeScriptName(const char *sourceName, char *scriptName, int size);

// Whether a name is one the script gives a file of its own while it joins: "_0._9" to
// "_j._9" for the pieces, "_z._9" for the joined file.
int isJoinTemporaryName(const char *name);
