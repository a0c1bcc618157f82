// Turning the Destination text into an empty piece file in a folder that exists.
#pragma once

int prepareDestination();
void dropEmptyDestination();
// Whether a Destination text, composed as prepareDestination would, names the file at destPath.
int namesDestinationFile(const char *text);
