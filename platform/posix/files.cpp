#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/write_all.h"
#include "platform/text.h"

std::size_t WriteAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    return written;
}

bool PathExists(const std::wstring& path) {
    struct stat info {};
    return ::stat(WideToUtf8(path).c_str(), &info) == 0;
}

// Written over the old bytes and then cut to length, not emptied first: ext4 answers a file that
// was truncated to nothing and rewritten with a flush to disk when it is closed, which costs
// milliseconds per datagram when a logger sends several a second.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    // O_NONBLOCK: a FIFO put where the file belongs must not hold the worker up (regular files
    // ignore the flag). O_NOFOLLOW: a symlink put there must not let a datagram from the network
    // overwrite whatever it points at.
    const int fd = ::open(WideToUtf8(path).c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const std::size_t written = WriteAll(fd, bytes);
    struct stat info {};
    bool cut = true; // only a regular file has a length to cut; a device or pipe has none
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        cut = ::ftruncate(fd, static_cast<off_t>(written)) == 0;
    ::close(fd);
    return cut && written == bytes.size();
}
