// The one place through which MainComponent reaches the operating system. The program builds the
// platform of the system it runs on (createNativePlatform, in app/native/LinkPlatform_<system>.cpp);
// tests build fakes. Another operating system gets a platform of its own beside the Linux one,
// without touching the protocol code.
#pragma once

#include "app/LinkRandom.h"
#include "ipc/PipeEndpoint.h"
#include "netenv/NetRows.h"
#include "transport/DatagramPort.h"
#include "transport/StreamListener.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <memory>

namespace lyrlink
{

class TimerObserver;

class LinkPlatform
{
public:
    virtual ~LinkPlatform() = default;

    /** A new datagram socket for the UDP endpoint (created, not yet bound). */
    virtual std::unique_ptr<DatagramPort> createDatagramPort() = 0;

    /** The UDP port to bind (50000; tests may use 0 for any free port). */
    virtual uint16_t getUdpPort() { return 50000; }

    /** A new listening socket for the TCP frame server (created, not yet open). */
    virtual std::unique_ptr<StreamListener> createStreamListener() = 0;

    /** The TCP port of the frame server (50000; tests may use 0 for any free port). */
    virtual uint16_t getTcpPort() { return 50000; }

    /** The source of network rows; lives as long as the platform. */
    virtual NetRowSource& getNetRowSource() = 0;

    /** A new, not yet created, pipe server end. */
    virtual std::unique_ptr<PipeEndpoint> createPipeEndpoint() = 0;

    /** True when a process with that id exists now. */
    virtual bool isProcessRunning (uint32_t pid) = 0;

    /** The per-user application data folder that holds the log folder. */
    virtual juce::File getAppDataFolder() = 0;

    /** Asks the application to quit (on the message thread). */
    virtual void requestQuit() = 0;

    /** What the timers report to, handed to each timer as it is made. Null (the real program):
        the timers run on JUCE's timer thread. Tests return a virtual scheduler. */
    virtual TimerObserver* getTimerObserver() { return nullptr; }

    /** The generator behind link-up's seed and the random back-off. The C library's one is
        process-wide, so every platform shares this instance unless it brings its own. */
    virtual LinkRandom& getRandom()
    {
        static LinkRandom random;
        return random;
    }
};

/** The platform of the real program on the system it was built for. */
std::unique_ptr<LinkPlatform> createNativePlatform();

} // namespace lyrlink
