#include "app/LyrLinkSysMgrLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

using namespace lyrlink;

namespace
{

struct TempFolder
{
    juce::File dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("lyrlog-" + juce::String (static_cast<int> (::getpid())), "");
    TempFolder() { dir.createDirectory(); }
    ~TempFolder() { dir.deleteRecursively(); }
};

std::string fileBytes (const juce::File& f)
{
    juce::MemoryBlock mb;
    f.loadFileAsData (mb);
    return std::string (static_cast<const char*> (mb.getData()), mb.getSize());
}

juce::Time localTime (int year, int month0, int day, int h, int m, int s)
{
    return juce::Time (year, month0, day, h, m, s, 0, true);
}

} // namespace

TEST (LogLineFormat, TwentyFourHourStampWithoutLeadingZeros)
{
    struct Case
    {
        juce::Time time;
        const char* expected;
    };
    const Case cases[] = {
        { localTime (2027, 2, 1, 9, 5, 7), "1 Mar 2027 9:05:07  msg" },
        { localTime (2026, 11, 4, 19, 1, 42), "4 Dec 2026 19:01:42  msg" },
        { localTime (2026, 11, 10, 0, 30, 0), "10 Dec 2026 0:30:00  msg" },
        { localTime (2026, 11, 10, 12, 30, 0), "10 Dec 2026 12:30:00  msg" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (formatLogLine (c.time, "msg"), c.expected);
}

TEST (LogLineFormat, BannerClockIsTwelveHourWithAmPm)
{
    // The banner's start time comes from JUCE's toString (true, true); these are the forms the
    // log promises: hour 0 shows as 12 am, 12 as 12 pm.
    EXPECT_EQ (localTime (2026, 11, 10, 0, 30, 0).toString (true, true), "10 Dec 2026 12:30:00am");
    EXPECT_EQ (localTime (2026, 11, 10, 12, 30, 0).toString (true, true), "10 Dec 2026 12:30:00pm");
    EXPECT_EQ (localTime (2026, 11, 4, 19, 1, 42).toString (true, true), "4 Dec 2026 7:01:42pm");
}

TEST (LogMessage, EscapesBytesOutsidePrintableAscii)
{
    EXPECT_EQ (escapeLogText ("DKP\x07" "3000"), "DKP\\x073000");
    EXPECT_EQ (escapeLogText ("a\r\nb"), "a\\x0d\\x0ab");
    EXPECT_EQ (escapeLogText (std::string ("\xff\x7f", 2)), "\\xff\\x7f");
    EXPECT_EQ (escapeLogText ("plain text ~!"), "plain text ~!");
}

TEST (LogMessage, CutAt255CharactersWithoutSplittingAnEscape)
{
    EXPECT_EQ (escapeLogText (std::string (300, 'a')).size(), 255u);
    // 253 plain characters leave room for 2 more: an escape (4) no longer fits and is left out.
    const auto cut = escapeLogText (std::string (253, 'a') + "\x01" + "b");
    EXPECT_EQ (cut, std::string (253, 'a'));
}

TEST (LyrLinkSysMgrLog, WritesBannerThenLinesWithCrLf)
{
    TempFolder tmp;
    {
        LyrLinkSysMgrLog log (tmp.dir, "VelmoraLog", "LyrLinkSysMgrLog.txt", "StartLog");
        log.setClock ([] { return localTime (2027, 2, 1, 9, 5, 7); });
        log.write ("%s OK", "MainComponent::MainComponent");
        log.write ("%s model = %s", "X", "bad\x1b[2Jmodel");
    }
    const auto bytes = fileBytes (tmp.dir.getChildFile ("VelmoraLog/LyrLinkSysMgrLog.txt"));
    const std::regex expected ("\r\n\\*{58}\r\nStartLog\r\nLog started: \\d{1,2} [A-Z][a-z]{2} \\d{4} "
                               "\\d{1,2}:\\d{2}:\\d{2}[ap]m\r\n\r\n"
                               "1 Mar 2027 9:05:07  MainComponent::MainComponent OK\r\n"
                               "1 Mar 2027 9:05:07  X model = bad\\\\x1b\\[2Jmodel\r\n");
    EXPECT_TRUE (std::regex_match (bytes, expected)) << bytes;
}

TEST (LyrLinkSysMgrLog, EachStartReplacesTheFileAndCreatesTheFolder)
{
    TempFolder tmp;
    const auto file = tmp.dir.getChildFile ("VelmoraLog/LyrLinkSysMgrLog.txt");
    ASSERT_FALSE (file.getParentDirectory().exists());
    {
        LyrLinkSysMgrLog log (tmp.dir, "VelmoraLog", "LyrLinkSysMgrLog.txt", "StartLog");
        log.write ("%s", "first run");
    }
    {
        LyrLinkSysMgrLog log (tmp.dir, "VelmoraLog", "LyrLinkSysMgrLog.txt", "StartLog");
        log.write ("%s", "second run");
    }
    const auto bytes = fileBytes (file);
    EXPECT_EQ (bytes.find ("first run"), std::string::npos);
    EXPECT_NE (bytes.find ("second run"), std::string::npos);
    EXPECT_EQ (bytes.rfind ("\r\n****", 0), 0u);
}

TEST (LyrLinkSysMgrLog, WithoutAUsableFolderEveryWriteDoesNothing)
{
    LyrLinkSysMgrLog log (juce::File ("/nonexistent/lyrlink"), "VelmoraLog", "LyrLinkSysMgrLog.txt", "StartLog");
    int observed = 0;
    log.setObserver ([&] (const std::string&) { ++observed; });
    log.write ("%s", "nothing");
    EXPECT_FALSE (log.isOpen());
    EXPECT_EQ (observed, 0);
}

TEST (LyrLinkSysMgrLog, LinesFromTwoThreadsStayWhole)
{
    TempFolder tmp;
    {
        LyrLinkSysMgrLog log (tmp.dir, "VelmoraLog", "LyrLinkSysMgrLog.txt", "StartLog");
        auto writer = [&log] (char c) {
            for (int i = 0; i < 200; ++i)
                log.write ("%s", std::string (100, c).c_str());
        };
        std::thread a (writer, 'a'), b (writer, 'b');
        a.join();
        b.join();
    }
    const auto bytes = fileBytes (tmp.dir.getChildFile ("VelmoraLog/LyrLinkSysMgrLog.txt"));
    const std::regex line ("[^\r\n]*  (a{100}|b{100})\r\n");
    int whole = 0;
    for (std::sregex_iterator it (bytes.begin(), bytes.end(), line), end; it != end; ++it)
        ++whole;
    EXPECT_EQ (whole, 400);
}
