#pragma once

#include "transport/LyrLinkTCPServer.h"

namespace lyrlink
{

/** The TCP server with the frame header test and the hand-over to MainComponent. */
class LyrLinkSysMgrTCP : public LyrLinkTCPServer
{
public:
    LyrLinkSysMgrTCP (std::unique_ptr<StreamListener> listener, uint16_t port);
    ~LyrLinkSysMgrTCP() override;

    /** The header test: magic, hdrclass 0 or 1, type 11 or less, a subtype the type allows;
        a read shorter than 33 bytes fails. */
    static bool isLinkFrame (const uint8_t* bytes, size_t size) noexcept;

    /** Not owned; null until the owner sets it. */
    std::atomic<LyrLinkNetworkAccessCallback*> m_callback { nullptr };

protected:
    void dataReceived (const uint8_t* sourceAddress, const juce::MemoryBlock& data) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkSysMgrTCP)
};

} // namespace lyrlink
