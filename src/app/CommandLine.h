// The manager's command line: it takes no settings (ports, periods and names are fixed), only the
// options that every program answers before doing anything.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lyrlink
{

/** The text of --help. */
std::string managerUsage();

/** Reads the arguments (without the program name) before the application starts. Returns the
    exit status when the process is to end at once (--help and --version: 0, a bad command line:
    2, with a message on err), or -1 when the manager is to run. */
int handleManagerCommandLine (const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace lyrlink
