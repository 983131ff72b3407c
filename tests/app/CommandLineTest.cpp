#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lyrlink;

TEST (ManagerCommandLine, AnswersHelpAndVersionAndRefusesTheRest)
{
    const struct
    {
        std::vector<std::string> args;
        int status;
        bool printsUsage;
    } cases[] = {
        { {}, -1, false },          // runs
        { { "--help" }, 0, true },  { { "-h" }, 0, true },
        { { "--version" }, 0, false },
        { { "--bogus" }, 2, false }, { { "stray" }, 2, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.args.empty() ? "(none)" : c.args[0]);
        std::ostringstream out, err;
        EXPECT_EQ (handleManagerCommandLine (c.args, out, err), c.status);
        EXPECT_EQ (out.str() == managerUsage(), c.printsUsage);
        EXPECT_EQ (err.str().empty(), c.status != 2) << err.str();
    }
    std::ostringstream out, err;
    handleManagerCommandLine ({ "--version" }, out, err);
    EXPECT_EQ (out.str(), "LyrLinkSysMgr 1.0\n");
}
