#include "lyrlinkctl/LyrLinkCtl.h"

#include "client/LinkFormat.h"
#include "client/LyrLinkClient.h"


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
    std::vector<std::string> words;
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

/** A whole decimal number in [min, max]. */
bool parseNumber (const std::string& text, long min, long max, long& value)
{
    if (text.empty() || text.size() > 12)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9')
            return false;
    value = std::stol (text);
    return value >= min && value <= max;
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
           "exit status: 0 ok, 1 refused by the manager, 2 usage, 3 no manager running,\n"
           "  4 time-out, 5 malformed reply, 6 pipe closed or other I/O error\n";
}

int runLyrlinkctl (const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>& stop)
{
    CtlOptions o;
    for (size_t i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        long value = 0;
        auto next = [&] () -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
        if (a == "--json")
            o.json = true;
        else if (a == "--suspended")
            o.startSuspended = true;
        else if (a == "-h" || a == "--help")
        {
            out << lyrlinkctlUsage();
            return CTL_OK;
        }
        else if (a == "--timeout" || a == "--count" || a == "--scope")
        {
            const auto* v = next();
            if (v == nullptr)
            {
                err << "lyrlinkctl: " << a << " needs a value\n" << lyrlinkctlUsage();
                return CTL_USAGE;
            }
            if (a == "--scope")
                o.client.scope = *v;
            else if (! parseNumber (*v, a == "--timeout" ? 1 : 0, 3600000, value))
            {
                err << "lyrlinkctl: bad value for " << a << ": " << *v << "\n";
                return CTL_USAGE;
            }
            else if (a == "--timeout")
                o.client.timeoutMs = static_cast<int> (value);
            else
                o.count = value;
        }
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
        {
            err << "lyrlinkctl: unknown option " << a << "\n" << lyrlinkctlUsage();
            return CTL_USAGE;
        }
        else
            o.words.push_back (a);
    }

    if (o.words.empty())
    {
        err << lyrlinkctlUsage();
        return CTL_USAGE;
    }
    const auto& command = o.words[0];
    const size_t wanted = command == "device" ? 2 : 1;
    const bool known = command == "status" || command == "devices" || command == "device" || command == "watch"
                    || command == "suspend" || command == "resume";
    if (! known || o.words.size() != wanted)
    {
        err << "lyrlinkctl: " << (known ? "wrong arguments for " + command : "unknown command " + command) << "\n"
            << lyrlinkctlUsage();
        return CTL_USAGE;
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
        if (! parseNumber (o.words[1], -2147483647L - 1, 2147483647L, id))
        {
            err << "lyrlinkctl: not a device id: " << o.words[1] << "\n";
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
