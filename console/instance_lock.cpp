#include "console/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
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

std::string OpenFailure(int error) {
    if (error == ELOOP)
        return "it is a symbolic link";
    if (error == EISDIR)
        return "it is a folder";
    return std::strerror(error);
}

} // namespace

std::string LockFilePath(const std::wstring& folder) {
    return WideToUtf8(folder) + "/corvane.lock";
}

InstanceLockResult LockDataFolder(const std::wstring& folder) {
    InstanceLockResult result;
    // Never closed: the kernel drops the lock when the process ends, however it ends, so a stale
    // lock file from a crash does not keep the next start out. O_NONBLOCK: whatever sits at the
    // name must not hold the start.
    const int fd = ::open(LockFilePath(folder).c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        result.reason = OpenFailure(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.reason = "it is not a regular file";
        ::close(fd);
        return result;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            result.state = InstanceLock::HeldElsewhere;
            result.otherProcess = ReadProcessId(fd);
        } else {
            result.reason = std::strerror(error);
        }
        ::close(fd);
        return result;
    }
    const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    // The id is only a courtesy to a second start; the lock is what counts.
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
        (void)written;
    }
    result.state = InstanceLock::Taken;
    return result;
}
