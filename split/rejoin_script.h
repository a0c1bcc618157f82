// The batch script that joins the pieces back with the interpreter's own copy /b.
#pragma once

// Writes the script into the current folder under the first free one of its names, and
// names it in a notice when that is not the usual one; returns 0 after reporting a failure.
int writeRejoinScript();
