#include "console/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "platform/text.h"

namespace {

long ReadProcessId(int fd) {
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0;
    return std::strtol(text, nullptr, 10);
}

} // namespace

InstanceLock LockDataFolder(const std::wstring& folder, long& otherProcess) {
    otherProcess = 0;
    if (folder.empty())
        return InstanceLock::Unavailable;
    const std::string path = WideToUtf8(folder) + "/corvane.lock";
    // Never closed: the kernel drops the lock when the process ends, however it ends, so a stale
    // lock file from a crash does not keep the next start out.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return InstanceLock::Unavailable;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool held = errno == EWOULDBLOCK;
        if (held)
            otherProcess = ReadProcessId(fd);
        ::close(fd);
        return held ? InstanceLock::HeldElsewhere : InstanceLock::Unavailable;
    }
    const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    // The id is only a courtesy to a second start; the lock is what counts.
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
        (void)written;
    }
    return InstanceLock::Taken;
}
