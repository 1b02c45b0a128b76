// SPDX-License-Identifier: MIT
#include "base/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace telmar::base {

namespace {

#ifdef _WIN32
constexpr int kReadFlags = _O_RDONLY | _O_BINARY;
constexpr int kWriteFlags = _O_WRONLY | _O_CREAT | _O_BINARY;
constexpr int kNew = _O_EXCL;
constexpr int kMode = _S_IREAD | _S_IWRITE;
constexpr unsigned kTypeMask = _S_IFMT;
constexpr unsigned kRegular = _S_IFREG;
using Stat = struct _stat64;
int openFd(const std::string& path, int flags) {
    return _open(path.c_str(), flags, kMode);
}
int statFd(int fd, Stat& info) {
    return _fstat64(fd, &info);
}
std::FILE* streamOf(int fd, const char* mode) {
    return _fdopen(fd, mode);
}
int closeFd(int fd) {
    return _close(fd);
}
int emptyFile(int fd) {
    return _chsize(fd, 0);
}
#else
// O_NONBLOCK: opening a FIFO must not wait; the regular-file check then refuses it.
constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr int kNew = O_EXCL;
constexpr mode_t kMode = 0600;
constexpr unsigned kTypeMask = S_IFMT;
constexpr unsigned kRegular = S_IFREG;
using Stat = struct stat;
int openFd(const std::string& path, int flags) {
    return ::open(path.c_str(), flags, kMode);
}
int statFd(int fd, Stat& info) {
    return ::fstat(fd, &info);
}
std::FILE* streamOf(int fd, const char* mode) {
    return ::fdopen(fd, mode);
}
int closeFd(int fd) {
    return ::close(fd);
}
int emptyFile(int fd) {
    return ::ftruncate(fd, 0);
}
#endif

Result<File> adopt(int fd, const char* mode, bool empty) {
    if (fd < 0) {
        return fail(errno == ELOOP ? "is a symbolic link" : std::strerror(errno));
    }
    Stat info{};
    if (statFd(fd, info) != 0 || (info.st_mode & kTypeMask) != kRegular) {
        closeFd(fd);
        return fail("is not a regular file");
    }
#ifndef _WIN32
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#endif
    if (empty && emptyFile(fd) != 0) {
        const int error = errno;
        closeFd(fd);
        return fail(std::strerror(error));
    }
    std::FILE* file = streamOf(fd, mode);
    if (file == nullptr) {
        closeFd(fd);
        return fail(std::strerror(errno));
    }
    return File(file);
}

} // namespace

Result<File> openToRead(const std::string& path) {
    return adopt(openFd(path, kReadFlags), "rb", false);
}

Result<File> createToWrite(const std::string& path, bool replace) {
    return adopt(openFd(path, kWriteFlags | (replace ? 0 : kNew)), "wb", replace);
}

} // namespace telmar::base
