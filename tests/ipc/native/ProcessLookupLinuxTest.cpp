// The Linux process lookup on real processes: a child is found while it runs, and not once it has
// ended, reaped or not; ids that name no single process are never found.
#include "ipc/native/ProcessLookup_linux.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace lyrlink;

TEST (ProcessLookupTest, ARealChildIsFoundUntilItIsKilled)
{
    const pid_t child = ::fork();
    ASSERT_GE (child, 0);
    if (child == 0)
    {
        for (;;)
            ::pause();
    }

    EXPECT_TRUE (isProcessRunning (static_cast<uint32_t> (child)));

    ASSERT_EQ (::kill (child, SIGKILL), 0);
    // Until it is reaped the ended child can still be signalled; it has ended all the same.
    siginfo_t info {};
    ASSERT_EQ (::waitid (P_PID, static_cast<id_t> (child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE (isProcessRunning (static_cast<uint32_t> (child))) << "ended, not yet reaped";

    ASSERT_EQ (::waitpid (child, nullptr, 0), child);
    EXPECT_FALSE (isProcessRunning (static_cast<uint32_t> (child))) << "reaped";
}

TEST (ProcessLookupTest, IdsThatNameNoSingleProcess)
{
    EXPECT_TRUE (isProcessRunning (static_cast<uint32_t> (::getpid())));
    // Process 1 belongs to another user unless the tests run as root: either way it exists.
    EXPECT_TRUE (isProcessRunning (1));
    // kill() would read these as process groups (0 is the caller's own).
    EXPECT_FALSE (isProcessRunning (0));
    EXPECT_FALSE (isProcessRunning (static_cast<uint32_t> (INT_MAX) + 1));
    EXPECT_FALSE (isProcessRunning (0xFFFFFFFFu));
}
