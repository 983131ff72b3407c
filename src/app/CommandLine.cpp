#include "app/CommandLine.h"

#include <CLI/CLI.hpp>

namespace lyrlink
{

std::string managerUsage()
{
    return "usage: LyrLinkSysMgr [--help] [--version]\n"
           "\n"
           "Takes this computer into the link network of DJ equipment (UDP and TCP port 50000) and\n"
           "serves the DJ applications of this user over local pipes (the master pipe is\n"
           "\"LyrLinkSysMgrPIPE\"). The link comes up once a client has connected and permitted it;\n"
           "the manager ends when its last client disconnects. It logs to\n"
           "$XDG_CONFIG_HOME/VelmoraLog/LyrLinkSysMgrLog.txt ($HOME/.config when unset).\n"
           "\n"
           "options:\n"
           "  -h, --help     print this text and exit\n"
           "  --version      print the version and exit\n"
           "exit status: 0 when it ends, 2 bad command line\n";
}

int handleManagerCommandLine (const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    bool help = false, version = false;
    CLI::App app { "", "LyrLinkSysMgr" };
    app.set_help_flag();
    app.add_flag ("-h,--help", help);
    app.add_flag ("--version", version);
    std::vector<std::string> reversed (args.rbegin(), args.rend());
    try
    {
        app.parse (reversed);
    }
    catch (const CLI::Error& e)
    {
        err << "LyrLinkSysMgr: " << e.what() << "\n(LyrLinkSysMgr --help shows the options)\n";
        return 2;
    }
    if (help)
    {
        out << managerUsage();
        return 0;
    }
    if (version)
    {
        out << "LyrLinkSysMgr " << LYRLINK_VERSION << "\n";
        return 0;
    }
    return -1;
}

} // namespace lyrlink
