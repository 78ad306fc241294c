#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/replace_file.h"
#include "platform/text.h"

namespace {

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

} // namespace

bool PathExists(const std::wstring& path) {
    struct stat info {};
    return ::stat(WideToUtf8(path).c_str(), &info) == 0;
}

bool ReplaceWholeFile(const std::string& path, const std::string& bytes, mode_t mode,
                      bool durable) {
    const std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str()); // a leftover, or anything put there, goes unread
    // O_EXCL: nothing at the name is opened, so no link is followed and no FIFO holds us up.
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    ::fchmod(fd, mode); // the umask may have taken bits the file had
    // Short after a full disk, or at RLIMIT_FSIZE (SIGXFSZ is ignored).
    const bool complete = WriteAll(fd, bytes) == bytes.size() && (!durable || ::fsync(fd) == 0);
    if (::close(fd) != 0 || !complete) {
        ::unlink(temporary.c_str());
        return false;
    }
    // ext4 writes a file renamed over another to disk at once, about a millisecond, which a
    // logger's flood cannot wait for; swapping the two names and dropping the old file costs a
    // tenth of that. A plain rename where there is no file to swap with or no swap on offer.
    struct stat there {};
    if (!durable && ::lstat(path.c_str(), &there) == 0 && S_ISREG(there.st_mode) &&
        ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(temporary.c_str()); // the old file, or the link that stood at the name
        return true;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    return ReplaceWholeFile(WideToUtf8(path), bytes, 0644, false);
}
