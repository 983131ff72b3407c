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
        if (i == 1) expected = 4;
        if (i == 14 || i == 15) expected = 17;
        if (i == 61) expected = 255;
        EXPECT_EQ (raw[i], expected) << "byte " << i;
    }
}
