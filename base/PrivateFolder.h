// SPDX-License-Identifier: MIT
#pragma once

// Folders for one user's sockets and locks (POSIX only). /tmp is shared: whoever makes a
// name there first owns it, so such files live in a folder that is checked before use
// rather than under a guessable name of their own.

#include <string>

namespace telmar::base {

// Makes `folder` (mode 0700) if it is missing, then checks it is a real folder of this
// user that nobody else can enter, closing it if it is open to others; a symlink, a
// file or another owner's folder is refused with the reason in `error`.
bool preparePrivateFolder(const std::string& folder, std::string& error);

// Checks only: `folder` exists, is no link, belongs to this user and is closed to others.
bool isPrivateFolder(const std::string& folder, std::string& error);

// The folder for this user's runtime files: $XDG_RUNTIME_DIR when it is private to this
// user, else <sharedRoot>/telmar-<uid>, made and checked by preparePrivateFolder. "" with
// the reason in `error` when neither can be had.
std::string privateRuntimeFolder(std::string& error, const std::string& sharedRoot = "/tmp");

} // namespace telmar::base
