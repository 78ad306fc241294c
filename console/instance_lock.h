#pragma once
// One Corvane per data folder: a lock file in the folder, held for the life of the process.
#include <string>

enum class InstanceLock {
    Taken,         // this process holds the lock
    HeldElsewhere, // another process holds it
    Refused,       // the lock file cannot be opened or locked: see the reason
};

struct InstanceLockResult {
    InstanceLock state = InstanceLock::Refused;
    long otherProcess = 0; // the holder's process id when it left one
    std::string reason;    // why a lock was refused, in a few words
};

// The lock file's path in the folder.
std::string LockFilePath(const std::wstring& folder);

InstanceLockResult LockDataFolder(const std::wstring& folder);
