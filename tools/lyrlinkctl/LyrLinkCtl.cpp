#include "lyrlinkctl/LyrLinkCtl.h"

#include "client/LinkFormat.h"
#include "client/LyrLinkClient.h"
#include "common/CliMessages.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>

namespace lyrlinkctl
{

using namespace lyrlink;
using namespace lyrlink::client;

namespace
{

constexpr int kWatchPollMs = 200;

struct CtlOptions
{
    bool json = false;
    bool startSuspended = false;
    long count = -1;  // watch: stop after this many notifications; -1 for no limit
    ClientOptions client;
};

int exitFor (Status s)
{
    switch (s)
    {
        case Status::ok: return CTL_OK;
        case Status::refused: return CTL_REFUSED;
        case Status::noManager: return CTL_NO_MANAGER;
        case Status::timeout: return CTL_TIMEOUT;
        case Status::malformed: return CTL_MALFORMED;
        case Status::closed:
        case Status::ioError:
        case Status::startFailed:
        case Status::startTimeout: return CTL_IO_ERROR;
    }
    return CTL_IO_ERROR;
}

/** A whole decimal number in [min, max]: digits with an optional minus sign, nothing else. */
bool parseNumber (const std::string& text, long min, long max, long& value)
{
    long v = 0;
    const auto end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars (text.data(), end, v);
    if (ec != std::errc() || ptr != end || v < min || v > max)
        return false;
    value = v;
    return true;
}

int failed (ManagerClient& client, Status s, std::ostream& err)
{
    err << "lyrlinkctl: " << client.getLastError() << "\n";
    if (s == Status::noManager)
        err << "lyrlinkctl: is LyrLinkSysMgr running (as this user)?\n";
    return exitFor (s);
}

int watch (const CtlOptions& o, std::ostream& out, std::ostream& err, const std::atomic<bool>& stop)
{
    ManagerClient client (o.client);
    const auto pid = currentProcessId();
    auto s = client.connectProcess (pid, o.startSuspended);
    if (s != Status::ok)
        return failed (client, s, err);
    err << "lyrlinkctl: watching as client " << pid << " on pipe " << clientPipeName (pid) << "; interrupt to stop\n";

    long seen = 0;
    while (! stop.load() && (o.count < 0 || seen < o.count))
    {
        ProcMsg msg;
        s = client.nextNotification (msg, kWatchPollMs);
        if (s == Status::timeout)
            continue;
        if (s != Status::ok)
            return failed (client, s, err);
        out << (o.json ? formatNotificationJson (localTimeStamp(), msg) : formatNotificationText (localTimeStamp(), msg))
            << std::endl;
        ++seen;
    }

    s = client.disconnectProcess();
    if (s != Status::ok)
        return failed (client, s, err);
    return CTL_OK;
}

} // namespace

std::string lyrlinkctlUsage()
{
    return "usage: lyrlinkctl [--json] [--timeout MS] COMMAND\n"
           "commands:\n"
           "  status              the link status\n"
           "  devices             the device table (present and removed entries)\n"
           "  device N            one device, N = 1..80\n"
           "  watch [--suspended] [--count N]\n"
           "                      connect as a client and print every notification until\n"
           "                      interrupted (or N notifications), then disconnect\n"
           "  suspend             take the manager off the link\n"
           "  resume              let the manager bring the link up again\n"
           "options:\n"
           "  --json              machine-readable output (one object per line for watch)\n"
           "  --timeout MS        time limit for connecting and for each reply (default 5000)\n"
           "  --scope PREFIX      pipe name prefix (tests only)\n"
           "  -h, --help          print this text\n"
           "exit status: 0 ok, 1 refused by the manager, 2 usage, 3 no manager running,\n"
           "  4 time-out, 5 malformed reply, 6 pipe closed or other I/O error\n";
}

int runLyrlinkctl (const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>& stop)
{
    CtlOptions o;
    bool help = false;
    std::string timeoutText, countText, deviceText;

    // The usage text is this program's own (its layout and the exit statuses); the parser only
    // reads the words. Options may follow the command, and words it does not know are left over
    // for the messages below.
    CLI::App app { "", "lyrlinkctl" };
    app.set_help_flag();
    app.allow_extras();
    app.fallthrough();
    // An option given twice keeps its last value.
    app.option_defaults()->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
    app.add_flag ("-h,--help", help);
    app.add_flag ("--json", o.json)->disable_flag_override();
    app.add_option ("--timeout", timeoutText);
    app.add_option ("--scope", o.client.scope);
    for (const char* name : { "status", "devices", "suspend", "resume" })
        app.add_subcommand (name);
    app.add_subcommand ("device")->add_option ("N", deviceText);
    auto* watchCommand = app.add_subcommand ("watch");
    watchCommand->add_flag ("--suspended", o.startSuspended)->disable_flag_override();
    watchCommand->add_option ("--count", countText);
    app.require_subcommand (0, 1);

    std::vector<std::string> reversed (args.rbegin(), args.rend());
    try
    {
        app.parse (reversed);
    }
    catch (const CLI::Error& e)
    {
        if (help)
        {
            out << lyrlinkctlUsage();
            return CTL_OK;
        }
        err << "lyrlinkctl: " << tools::describeParseError (e) << "\n" << lyrlinkctlUsage();
        return CTL_USAGE;
    }
    if (help)
    {
        out << lyrlinkctlUsage();
        return CTL_OK;
    }

    const auto chosen = app.get_subcommands();
    const std::string command = chosen.empty() ? std::string() : chosen.front()->get_name();
    const auto extra = app.remaining (true);
    const auto option =
        std::find_if (extra.begin(), extra.end(), [] (const std::string& w) { return w.size() > 1 && w[0] == '-'; });
    if (option != extra.end())
    {
        err << "lyrlinkctl: unknown option " << *option << "\n" << lyrlinkctlUsage();
        return CTL_USAGE;
    }
    if (command.empty())
    {
        if (! extra.empty())
            err << "lyrlinkctl: unknown command " << extra.front() << "\n";
        err << lyrlinkctlUsage();
        return CTL_USAGE;
    }
    if (! extra.empty() || (command == "device" && deviceText.empty()))
    {
        err << "lyrlinkctl: wrong arguments for " << command << "\n" << lyrlinkctlUsage();
        return CTL_USAGE;
    }

    long value = 0;
    if (app.count ("--timeout") > 0)
    {
        if (! parseNumber (timeoutText, 1, 3600000, value))
        {
            err << "lyrlinkctl: bad value for --timeout: " << timeoutText << "\n";
            return CTL_USAGE;
        }
        o.client.timeoutMs = static_cast<int> (value);
    }
    if (watchCommand->count ("--count") > 0)
    {
        if (! parseNumber (countText, 0, 3600000, value))
        {
            err << "lyrlinkctl: bad value for --count: " << countText << "\n";
            return CTL_USAGE;
        }
        o.count = value;
    }

    if (command == "watch")
        return watch (o, out, err, stop);

    ManagerClient client (o.client);
    Status s = Status::ok;
    if (command == "status")
    {
        LinkStatus status;
        if ((s = client.getLinkStatus (status)) == Status::ok)
            out << (o.json ? formatLinkStatusJson (status) + "\n" : formatLinkStatusText (status));
    }
    else if (command == "devices")
    {
        PeerTable table;
        if ((s = client.getDeviceList (table)) == Status::ok)
            out << (o.json ? formatDeviceTableJson (table) + "\n" : formatDeviceTableText (table));
    }
    else if (command == "device")
    {
        long id = 0;
        if (! parseNumber (deviceText, -2147483647L - 1, 2147483647L, id))
        {
            err << "lyrlinkctl: not a device id: " << deviceText << "\n";
            return CTL_USAGE;
        }
        DeviceEntry entry;
        if ((s = client.getDevice (static_cast<int> (id), entry)) == Status::ok)
            out << (o.json ? formatDeviceJson (static_cast<int> (id), entry) + "\n" : formatDeviceText (static_cast<int> (id), entry));
    }
    else if (command == "suspend")
        s = client.suspend();
    else
        s = client.resume();

    if (s != Status::ok)
        return failed (client, s, err);
    return CTL_OK;
}

} // namespace lyrlinkctl
