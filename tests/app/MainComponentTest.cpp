#include "support/LinkHarness.h"

#include <gtest/gtest.h>

using namespace lyrlink;
using namespace lyrlink::test;

TEST (MainComponentStartUp, ResetsTheLinkStatus)
{
    LinkHarness h;
    const auto s = h.mc->getLinkStatus();
    const auto* raw = reinterpret_cast<const uint8_t*> (&s);
    for (size_t i = 0; i < sizeof (s); ++i)
    {
        uint8_t expected = 0;
        if (i == 1)
            expected = 4;
        if (i == 14 || i == 15)
            expected = 17;
        if (i == 61)
            expected = 255;
        EXPECT_EQ (raw[i], expected) << "byte " << i;
    }
    for (int id = 1; id <= kMaxDeviceId; ++id)
        ASSERT_EQ (h.mc->getDeviceEntry (id).state, DEVICE_NEVER_USED);
    const auto t = h.mc->getLinkTimings();
    EXPECT_EQ (t.idPeriodMs, 100);
    EXPECT_EQ (t.keepAlivePeriodMs, 2000);
    EXPECT_EQ (t.agingPeriodMs, 10000);
}

TEST (MainComponentStartUp, StartsSuspendedWithoutClientOrPermission)
{
    LinkHarness h;
    EXPECT_TRUE (h.mc->isSuspended());
    EXPECT_FALSE (h.mc->isProcessConnected());
    EXPECT_FALSE (h.mc->isLinkPermitted());
    EXPECT_FALSE (h.mc->isRejected());
    EXPECT_EQ (h.mc->getWidth(), 300);
    EXPECT_EQ (h.mc->getHeight(), 100);
    auto* label = dynamic_cast<juce::Label*> (h.mc->getChildComponent (0));
    ASSERT_NE (label, nullptr);
    EXPECT_EQ (label->getName(), "labelPlayMode");
    EXPECT_EQ (label->getText(), "-----");
    EXPECT_EQ (label->getBounds(), juce::Rectangle<int> (32, 32, 150, 24));
}

TEST (MainComponentStartUp, CreatesAllTimersAndUsesNoOtherIds)
{
    LinkHarness h;
    for (uint32_t id : { 1u, 2u, 4u, 5u, 6u, 7u, 8u, 9u, 100u, 140u, 179u })
    {
        auto* t = h.mc->getTimer (id);
        ASSERT_NE (t, nullptr) << id;
        EXPECT_EQ (t->getTimerId(), id);
    }
    for (uint32_t id : { 0u, 3u, 10u, 99u, 180u })
        EXPECT_EQ (h.mc->getTimer (id), nullptr) << id;
}

TEST (MainComponentStartUp, PortHeldByAnotherProgramIsLoggedAndStartUpGoesOn)
{
    LinkHarness h ([] (FakePlatform& p) { p.udp->bindSucceeds = false; });
    const auto lines = h.logTexts();
    ASSERT_GE (lines.size(), 2u);
    EXPECT_EQ (lines[0], "MainComponent::MainComponent OK");
    EXPECT_EQ (lines[1], "MainComponent::MainComponent NG UDP port open");
    EXPECT_FALSE (h.mc->getNetworkAccess()->isOpen());
    EXPECT_EQ (h.mc->getNetworkAccess()->getPort(), 0);
}

TEST (MainComponentStartUp, BoundEndpointRunsItsThread)
{
    LinkHarness h;
    EXPECT_EQ (h.logTexts().at (0), "MainComponent::MainComponent OK");
    EXPECT_FALSE (h.logged ("MainComponent::MainComponent NG UDP port open"));
    EXPECT_TRUE (h.mc->getNetworkAccess()->isOpen());
    EXPECT_EQ (h.mc->getNetworkAccess()->getPort(), 50000);
    EXPECT_TRUE (h.mc->getNetworkAccess()->isThreadRunning());
}
