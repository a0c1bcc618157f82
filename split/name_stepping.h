// Proposing the next piece's name: the number in the destination name, plus one.
#pragma once

// Returns 1 when a digit of destPath changed, 0 when destPath is as it was.
int stepDestinationName();
