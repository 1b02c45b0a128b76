// SPDX-License-Identifier: MIT
#include "updater/qtcore/QtUpdateLock.h"

#include "base/PrivateFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telmar::updater {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

QtUpdateLock::QtUpdateLock(std::string path) : path_(std::move(path)) {}

QtUpdateLock::~QtUpdateLock() {
    unlock();
}

std::string QtUpdateLock::defaultPath(std::string& error) {
    const std::string folder = base::privateRuntimeFolder(error);
    return folder.empty() ? std::string{} : folder + "/telmar-reflasher-update.lock";
}

bool QtUpdateLock::tryLock() {
    if (fd_ >= 0) {
        return true;
    }
    problem_.clear();
    std::string error;
    const std::string path = path_.empty() ? defaultPath(error) : path_;
    if (path.empty() || !base::isPrivateFolder(folderOf(path), error)) {
        problem_ = "The update lock cannot be taken: " + error + ".";
        return false;
    }
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        problem_ = "The update lock " + path + " cannot be used: " +
                   (fd < 0 ? std::strerror(errno) : "it is not a file of this user") + ".";
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            problem_ =
                "The update lock " + path + " cannot be taken: " + std::strerror(errno) + ".";
        }
        ::close(fd);
        return false;
    }
    // Only for a person looking: who holds it. The lock itself is the flock.
    const std::string holder = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool noted =
        ::ftruncate(fd, 0) == 0 &&
        ::write(fd, holder.data(), holder.size()) == static_cast<ssize_t>(holder.size());
    fd_ = fd;
    return true;
}

void QtUpdateLock::unlock() {
    if (fd_ >= 0) {
        // The file stays: removing it would let a process that opened it just before
        // lock a file nobody else can find any more.
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace telmar::updater
