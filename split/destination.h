// Turning the Destination text into an empty piece file in a folder that exists.
#pragma once

int prepareDestination();
// Deletes the piece file this split made, when it is still at destPath; a file the user
// agreed to have replaced is kept whole, and another file found there is kept and
// reported. 0 after reporting.
int dropEmptyDestination();
// Tells the user that destPath holds another file than the one made for the piece, and
// whether the failed attempt's file had been deleted for it.
int reportChangedDestination(int failedPieceDeleted);
// Whether a Destination text, composed as prepareDestination would, names the very file
// at destPath, by whatever path.
int namesDestinationFile(const char *text);
