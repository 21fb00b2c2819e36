#pragma once

#include <string>

// Reads one HEX-86 file (Intel HEX with record types 00, 01, 02 and 04; 03 and 05
// tolerated) into g_imageMemory, which it clears first. Returns 1 when the file was read to its
// end or to its end record without a failure, 0 otherwise. Every problem is shown to the
// operator at once through ShowMessageBox, in German, and the load waits until it has been
// confirmed; the caller shows nothing of its own. After a 0 the image memory holds whatever
// was stored before the failure and must not be used.
//
// The file is read in chunks of at most 512 characters and decoded on the fly, so memory use
// does not depend on the file's size.
int LoadHexFile(const std::string& path);
