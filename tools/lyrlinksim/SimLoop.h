// The simulator's sockets and its one loop: a UDP socket per device bound to the device's address,
// one socket per broadcast address to hear the manager's broadcasts, and the command input; the
// device behaviour itself is SimEngine's.
#pragma once

#include "lyrlinksim/SimConfig.h"
#include "lyrlinksim/SimEngine.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace lyrlinksim
{

class SimLoop
{
public:
    /** Receives one output line without its newline; returns false when the line could not be
        written, which ends the run. */
    using LineSink = std::function<bool (const std::string&)>;

    SimLoop (const SimConfig& config, LineSink out, LineSink errors);
    ~SimLoop();

    SimLoop (const SimLoop&) = delete;
    SimLoop& operator= (const SimLoop&) = delete;

    /** Binds every device's socket; false, with the reason on the error sink, if one cannot be bound.
        A broadcast address that cannot be bound is reported and only costs the broadcasts heard. */
    bool open();

    /** Runs until quit, the duration, the end of the input (when no duration is set), a failed
        output line, or stop. inputFd -1 reads no commands. Returns the exit status. */
    int run (int inputFd, const std::atomic<bool>& stop);

private:
    struct Socket
    {
        int fd = -1;
        Ipv4 address = 0;
        bool isDevice = false;
    };

    int64_t elapsedMs() const;
    bool emit (const std::string& line);
    bool flush (EngineOutput& out);
    bool drainSocket (const Socket& s);
    bool readInput (int fd, bool& endOfInput);
    bool handleCommand (const std::string& line);
    static int openSocket (Ipv4 address, uint16_t port, std::string& error);

    SimConfig m_config;
    SimEngine m_engine;
    LineSink m_out;
    LineSink m_errors;
    std::vector<Socket> m_sockets;  // the devices' sockets first, in device order
    std::chrono::steady_clock::time_point m_start;
    std::string m_inputLine;
    bool m_discardingLine = false;
    bool m_outputFailed = false;
    std::vector<uint8_t> m_receiveBuffer;
};

} // namespace lyrlinksim
