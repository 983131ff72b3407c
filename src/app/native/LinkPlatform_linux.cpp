#include "app/LinkPlatform.h"
#include "ipc/native/PipeEndpoint_linux.h"
#include "ipc/native/ProcessLookup_linux.h"
#include "netenv/native/NetRowSource_linux.h"
#include "transport/native/DatagramPort_linux.h"
#include "transport/native/StreamListener_linux.h"

#include <juce_events/juce_events.h>

namespace lyrlink
{

namespace
{

class LinuxPlatform final : public LinkPlatform
{
public:
    LinuxPlatform() : m_rows (createLinuxNetRowSource()) {}

    std::unique_ptr<DatagramPort> createDatagramPort() override { return createLinuxDatagramPort(); }
    std::unique_ptr<StreamListener> createStreamListener() override { return createLinuxStreamListener(); }
    NetRowSource& getNetRowSource() override { return *m_rows; }
    std::unique_ptr<PipeEndpoint> createPipeEndpoint() override { return createLinuxPipeEndpoint(); }
    bool isProcessRunning (uint32_t pid) override { return lyrlink::isProcessRunning (pid); }

    juce::File getAppDataFolder() override
    {
        // $HOME/.config (or $XDG_CONFIG_HOME) on Linux. Unlike the per-user folder of other
        // systems it may not exist yet on a fresh account; it is made as any XDG program would.
        auto folder = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory);
        if (! folder.isDirectory())
            folder.createDirectory();
        return folder;
    }

    void requestQuit() override
    {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    }

private:
    std::unique_ptr<NetRowSource> m_rows;
};

} // namespace

std::unique_ptr<LinkPlatform> createNativePlatform() { return std::make_unique<LinuxPlatform>(); }

} // namespace lyrlink
