// SPDX-License-Identifier: MIT
// The update lock against what another process or user leaves in its way.

#include "base/PrivateFolder.h"
#include "tests/support/TempFolder.h"
#include "updater/qtcore/QtUpdateLock.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace telmar::test {
namespace {

// Only a live holder in a folder of this user alone blocks: not a file that names a live
// process, and nothing in an open or linked folder or on a FIFO is used at all.
TEST(UpdateLockHostile, OnlyALiveHolderInAPrivateFolderBlocks) {
    TempFolder folder;
    const std::string mine = folder.file("mine"), open = folder.file("open");
    const std::string link = folder.file("link");
    ASSERT_EQ(::mkdir(mine.c_str(), 0700) | ::mkdir(open.c_str(), 0755) |
                  ::symlink(mine.c_str(), link.c_str()) | ::mkfifo((mine + "/fifo").c_str(), 0600),
              0);
    for (const std::string& bad : {open + "/l", link + "/l", mine + "/fifo"}) {
        updater::QtUpdateLock lock(bad);
        EXPECT_FALSE(lock.tryLock()) << bad;
        EXPECT_NE(lock.problem(), "") << bad;
    }
    std::ofstream(mine + "/l") << "1\nlocalhost\ninit\n";
    updater::QtUpdateLock first(mine + "/l"), second(mine + "/l");
    ASSERT_TRUE(first.tryLock()) << first.problem();
    EXPECT_FALSE(second.tryLock());
    EXPECT_EQ(second.problem(), "") << "held by another update: nothing else to say";
    first.unlock();
    EXPECT_TRUE(second.tryLock()) << second.problem();

    // The runtime folder only when it is private, else <shared>/telmar-<uid> (made and
    // checked as the simulator's folder, whose refusals test_sim_hostile covers).
    const std::string shared = folder.file("");
    const std::string fallback = shared + "/telmar-" + std::to_string(::getuid());
    const std::pair<std::string, std::string> runtimes[] = {
        {mine, mine}, {open, fallback}, {link, fallback}};
    std::string error;
    for (const auto& [runtime, chosen] : runtimes) {
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        EXPECT_EQ(base::privateRuntimeFolder(error, shared), chosen) << error;
    }
}

} // namespace
} // namespace telmar::test
