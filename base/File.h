// SPDX-License-Identifier: MIT
#pragma once

#include "base/Result.h"

#include <cstdio>
#include <memory>
#include <string>

// Files the programs read or write because a user named them (an environment variable,
// an option). Only regular files: a FIFO, a device or a folder is refused at once, and
// opening never waits for a writer or reader on the other side.
namespace telmar::base {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// For reading, from the start.
Result<File> openToRead(const std::string& path);

// A new file only this user may read (0600), not through a symlink. An existing file
// is refused unless `replace`; a replaced one must be a regular file and is emptied.
Result<File> createToWrite(const std::string& path, bool replace);

} // namespace telmar::base
