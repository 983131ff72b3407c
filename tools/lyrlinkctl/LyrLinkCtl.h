// The commands of lyrlinkctl, apart from the process around them so tests can run them in-process.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace lyrlinkctl
{

/** Exit statuses of lyrlinkctl. */
enum CtlExit : int
{
    CTL_OK = 0,
    CTL_REFUSED = 1,      // the manager answered with result 0
    CTL_USAGE = 2,        // bad command line
    CTL_NO_MANAGER = 3,   // no manager is running
    CTL_TIMEOUT = 4,      // no connection or reply in time
    CTL_MALFORMED = 5,    // the reply was not what the manager sends
    CTL_IO_ERROR = 6      // the pipe closed, or another socket failure
};

/** Runs one command line (without the program name). Output goes to out, messages to err.
    watch runs until stop is set. */
int runLyrlinkctl (const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>& stop);

/** The usage text. */
std::string lyrlinkctlUsage();

} // namespace lyrlinkctl
