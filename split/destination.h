// Turning the Destination text into an empty piece file in a folder that exists.
#pragma once

int prepareDestination();
void dropEmptyDestination();
