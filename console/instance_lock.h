#pragma once
// One Corvane per data folder: a lock file in the folder, held for the life of the process.
#include <string>

enum class InstanceLock {
    Taken,         // this process holds the lock
    HeldElsewhere, // another process holds it
    Unavailable,   // the lock file cannot be made; run without one
};

// `otherProcess` gets the holder's process id when it left one (0 otherwise).
InstanceLock LockDataFolder(const std::wstring& folder, long& otherProcess);
