#include "app/LyrLinkSysMgrApplication.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

using namespace lyrlink;
using namespace lyrlink::test;

TEST (LyrLinkSysMgrWindow, WithoutADisplayTheWindowStaysOffTheDesktopAndHidden)
{
    FakePlatform platform;
    LyrLinkSysMgrWindow window (platform, false);
    EXPECT_FALSE (window.isOnDesktop());
    EXPECT_FALSE (window.isVisible());
    EXPECT_EQ (window.getName(), "Lyrano Link System Manager");
    EXPECT_EQ (window.getMainComponent().getWidth(), 300);
    EXPECT_EQ (window.getMainComponent().getHeight(), 100);
}
