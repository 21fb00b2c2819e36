#pragma once

#include <atomic>
#include <string>

// Reads one HEX-86 file (Intel HEX with record types 00, 01, 02 and 04; 03 and 05
// tolerated) into g_imageMemory, which it clears first. Returns 1 when the file was read to its
// end or to its end record without a failure, 0 otherwise. Every problem is shown to the
// operator at once through ShowMessageBox, in German, and the load waits until it has been
// confirmed; the caller shows nothing of its own. After a 0 the image memory holds whatever
// was stored before the failure and must not be used.
//
// Only a regular file (after following links) is read: anything else (a device, a FIFO, a
// directory) is refused as a file that cannot be opened, and opening never blocks. A file in
// which no record mark is found at all is no image and fails too.
//
// The file is read in chunks of at most 512 characters and decoded on the fly, so memory use
// does not depend on the file's size. When `stop` is given and becomes nonzero, the load ends
// before its next chunk with the result 0 and no message: the caller's abort request.
int LoadHexFile(const std::string& path, const std::atomic<int>* stop = nullptr);
