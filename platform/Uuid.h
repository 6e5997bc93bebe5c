#pragma once
// Unique ids from the system's UUID generator (libuuid).
#include <string>

// Fills 16 bytes with a new random UUID; false when none could be made.
bool NewGuid(unsigned char out[16]);

// A 32-character lower-case hex name: the last eight bytes of a new UUID,
// each written "%04x" (two zero digits, then the byte's two digits). Empty
// text when no UUID can be made.
std::string MakeUniqueId();
