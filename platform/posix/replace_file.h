#pragma once
// The one way the POSIX half writes a file: a new file beside it, put in the old one's place.
#include <string>
#include <sys/types.h>

// Writes `bytes` to "<path>.tmp", created afresh with `mode` (whatever was at that name is
// removed first, never opened), and puts it at `path` in one step, so a reader sees the old file
// or the new one, never a mix, and a link or FIFO at either name is replaced, never followed or
// written through. `durable`: synced to disk before it takes the name. False, with the name as it
// was, on any failure.
bool ReplaceWholeFile(const std::string& path, const std::string& bytes, mode_t mode, bool durable);
