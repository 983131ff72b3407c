#include "app/LinkPlatform.h"
#include "ipc/native/PipeEndpoint_windows.h"
#include "ipc/native/ProcessLookup_windows.h"
#include "netenv/native/NetRowSource_windows.h"
#include "transport/native/DatagramPort_windows.h"
#include "transport/native/StreamListener_windows.h"

#include <juce_events/juce_events.h>

namespace lyrlink
{

namespace
{

class WindowsPlatform final : public LinkPlatform
{
public:
    WindowsPlatform() : m_rows (createWindowsNetRowSource()) {}

    std::unique_ptr<DatagramPort> createDatagramPort() override { return createWindowsDatagramPort(); }
    std::unique_ptr<StreamListener> createStreamListener() override { return createWindowsStreamListener(); }
    NetRowSource& getNetRowSource() override { return *m_rows; }
    std::unique_ptr<PipeEndpoint> createPipeEndpoint() override { return createWindowsPipeEndpoint(); }
    bool isProcessRunning (uint32_t pid) override { return lyrlink::isProcessRunning (pid); }

    juce::File getAppDataFolder() override
    {
        // The per-user application data folder (%APPDATA%, the roaming profile), which JUCE asks
        // SHGetSpecialFolderPathW for. It exists on every account.
        return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory);
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

std::unique_ptr<LinkPlatform> createNativePlatform() { return std::make_unique<WindowsPlatform>(); }

} // namespace lyrlink
