// The batch script that joins the pieces back with the interpreter's own copy /b.
#pragma once

// Writes the script into the current folder; returns 0 after reporting a failure.
int writeRejoinScript();
