// SPDX-License-Identifier: MIT
// The update lock and its folder against what another process or user leaves there.

#include "base/PrivateFolder.h"
#include "tests/support/TempFolder.h"
#include "updater/qtcore/QtUpdateLock.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace telmar::test {
namespace {

// Only a live holder of the lock blocks: not a file naming a live process, nor the
// leftovers of a holder killed outright.
TEST(UpdateLockHostile, OnlyALiveHolderBlocks) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("update.lock");
    std::ofstream(path) << "1\nlocalhost\ninit\n";
    updater::QtUpdateLock first(path);
    updater::QtUpdateLock second(path);
    ASSERT_TRUE(first.tryLock()) << first.problem();
    EXPECT_FALSE(second.tryLock());
    EXPECT_EQ(second.problem(), "") << "another update holds it: no fault to name";
    first.unlock();

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        updater::QtUpdateLock held(path);
        const char ok = held.tryLock() ? '1' : '0';
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char taken = 0;
    ASSERT_EQ(::read(ready[0], &taken, 1), 1);
    EXPECT_EQ(taken, '1');
    EXPECT_FALSE(second.tryLock());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(second.tryLock()) << second.problem();
}

// A lock anywhere but in a private folder of this user is refused with the reason, and
// the runtime folder is passed over for /tmp/telmar-<uid> unless it is private.
TEST(UpdateLockHostile, OnlyAPrivateFolderIsUsed) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string open = folder.file("open");
    const std::string mine = folder.file("mine");
    const std::string link = folder.file("link");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(mine.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(mine.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink("/etc/passwd", (mine + "/to-passwd").c_str()), 0);
    ASSERT_EQ(::mkfifo((mine + "/fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        bool usable;
    } locks[] = {{mine + "/l", true},
                 {open + "/l", false},
                 {link + "/l", false},
                 {mine + "/to-passwd", false},
                 {mine + "/fifo", false}};
    for (const auto& c : locks) {
        updater::QtUpdateLock lock(c.path);
        EXPECT_EQ(lock.tryLock(), c.usable) << c.path;
        EXPECT_EQ(lock.problem().empty(), c.usable) << c.path << ": " << lock.problem();
    }

    const std::string shared = folder.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    const std::string fallback = shared + "/telmar-" + std::to_string(::getuid());
    const struct {
        const char* runtime;
        std::string chosen;
    } runtimes[] = {{mine.c_str(), mine},
                    {open.c_str(), fallback},
                    {link.c_str(), fallback},
                    {nullptr, fallback},
                    {"relative", fallback}};
    for (const auto& c : runtimes) {
        c.runtime ? ::setenv("XDG_RUNTIME_DIR", c.runtime, 1) : ::unsetenv("XDG_RUNTIME_DIR");
        std::string error;
        EXPECT_EQ(base::privateRuntimeFolder(error, shared), c.chosen) << error;
    }
    // Someone else's name in the shared folder is refused, never used.
    ASSERT_EQ(::rmdir(fallback.c_str()), 0);
    ASSERT_EQ(::symlink(mine.c_str(), fallback.c_str()), 0);
    std::string error;
    EXPECT_EQ(base::privateRuntimeFolder(error, shared), "");
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
    ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace telmar::test
