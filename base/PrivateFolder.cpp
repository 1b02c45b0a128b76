// SPDX-License-Identifier: MIT
#include "base/PrivateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace telmar::base {

namespace {

enum class IfOpen { Close, Refuse };

bool checkFolder(const std::string& folder, IfOpen ifOpen, std::string& error) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        error = "cannot look at " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        error = folder + " is not a folder (a link or a file lies there); refusing to use it";
        return false;
    }
    if (st.st_uid != ::getuid()) {
        error = folder + " belongs to uid " + std::to_string(st.st_uid) +
                ", not to this user; refusing to use it";
        return false;
    }
    if ((st.st_mode & 0077) == 0) {
        return true;
    }
    if (ifOpen == IfOpen::Refuse) {
        error = folder + " is open to other users; refusing to use it";
        return false;
    }
    if (::chmod(folder.c_str(), 0700) != 0) {
        error = folder + " is open to other users and cannot be closed: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool preparePrivateFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + folder + ": " + std::strerror(errno);
        return false;
    }
    return checkFolder(folder, IfOpen::Close, error);
}

bool isPrivateFolder(const std::string& folder, std::string& error) {
    return checkFolder(folder, IfOpen::Refuse, error);
}

std::string privateRuntimeFolder(std::string& error, const std::string& sharedRoot) {
    // A runtime folder that is not ours alone is passed over, never changed: the session
    // may share it on purpose.
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir == '/') {
        std::string ignored;
        if (isPrivateFolder(dir, ignored)) {
            return dir;
        }
    }
    std::string folder = sharedRoot + "/telmar-" + std::to_string(::getuid());
    if (!preparePrivateFolder(folder, error)) {
        return {};
    }
    return folder;
}

} // namespace telmar::base
