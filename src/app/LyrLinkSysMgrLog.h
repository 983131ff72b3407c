// The log file: one text file, replaced at every start, written through one printf-style call.
#pragma once

#include <juce_core/juce_core.h>

#include <cstdarg>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace lyrlink
{

/** Longest message text of one line, in characters. */
constexpr size_t kMaxLogMessage = 255;

/** The message text of a line: printf formatting, bytes outside printable ASCII written as \xNN
    (so a model name or SSID from the network cannot break or forge lines), cut at 255 characters
    without splitting an escape. */
std::string formatLogMessage (const char* format, va_list args);

/** Escapes bytes outside printable ASCII as \xNN and cuts the result at kMaxLogMessage. */
std::string escapeLogText (const std::string& text);

/** A whole line without its CR LF: the 24-hour local time stamp, two spaces, the message. */
std::string formatLogLine (const juce::Time& time, const std::string& message);

/**
    The manager's log object. The file is deleted and created anew when the object is made; every
    write() appends one line and flushes it before returning. When the file cannot be created every
    write() does nothing.
*/
class LyrLinkSysMgrLog
{
public:
    /** Opens appDataFolder/subFolder/fileName, deleting any earlier file, and writes the banner. */
    LyrLinkSysMgrLog (const juce::File& appDataFolder, const juce::String& subFolder,
                      const juce::String& fileName, const juce::String& welcomeText);
    ~LyrLinkSysMgrLog();

    /** The common log call; the caller passes its qualified name for the leading "%s". */
    void write (const char* format, ...)
#if defined(__GNUC__)
        __attribute__ ((format (printf, 2, 3)))
#endif
        ;

    /** The log file, whether or not it could be opened. */
    juce::File getLogFile() const { return m_file; }

    /** True when lines reach the file. */
    bool isOpen() const noexcept { return m_logger != nullptr; }

    /** Tests: the clock that stamps lines (the banner is JUCE's and always uses the real time). */
    void setClock (std::function<juce::Time()> clock);

    /** Tests: called with each message text (without the time stamp) after it was written. */
    void setObserver (std::function<void (const std::string&)> observer);

    /** Tests: false keeps later lines out of the file, so they reach only the observer (a fuzzer
        running many inputs on one manager keeps its log in memory). */
    void setWritesFile (bool writesFile);

private:
    juce::File m_file;
    std::unique_ptr<juce::FileLogger> m_logger;
    // The hooks may be set while other threads write lines.
    std::mutex m_hookLock;
    std::function<juce::Time()> m_clock;
    std::function<void (const std::string&)> m_observer;
    bool m_writesFile = true;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkSysMgrLog)
};

} // namespace lyrlink
