#include "app/LyrLinkSysMgrLog.h"

#include <cstdio>
#include <vector>

namespace lyrlink
{

std::string escapeLogText (const std::string& text)
{
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve (std::min (text.size(), kMaxLogMessage));
    for (const char ch : text)
    {
        const auto c = static_cast<unsigned char> (ch);
        const bool printable = c >= 0x20 && c < 0x7f;
        const size_t need = printable ? 1 : 4;
        if (out.size() + need > kMaxLogMessage)
            break;
        if (printable)
        {
            out += static_cast<char> (c);
        }
        else
        {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string formatLogMessage (const char* format, va_list args)
{
    // Format generously first: the cut at 255 characters applies to what ends up in the file,
    // after escaping, so no escape sequence is ever split.
    char buffer[1024];
    const int n = std::vsnprintf (buffer, sizeof (buffer), format, args);
    if (n < 0)
        return {};
    return escapeLogText (std::string (buffer, std::min<size_t> (static_cast<size_t> (n), sizeof (buffer) - 1)));
}

std::string formatLogLine (const juce::Time& time, const std::string& message)
{
    return time.toString (true, true, true, true).toStdString() + "  " + message;
}

LyrLinkSysMgrLog::LyrLinkSysMgrLog (const juce::File& appDataFolder, const juce::String& subFolder,
                                    const juce::String& fileName, const juce::String& welcomeText)
    : m_clock ([] { return juce::Time::getCurrentTime(); })
{
    if (! appDataFolder.isDirectory())
        return;

    m_file = appDataFolder.getChildFile (subFolder).getChildFile (fileName);
    if (m_file.exists() && ! m_file.deleteFile())
        return;
    if (! m_file.create().wasOk())
        return;

    // JUCE's FileLogger writes the banner (CR LF, 58 asterisks, the welcome text, "Log started: "
    // with the 12-hour time) and appends each later line with CR LF, opening and flushing the
    // file for every line under its own lock. A size limit of -1 keeps the new empty file.
    m_logger = std::make_unique<juce::FileLogger> (m_file, welcomeText, -1);
}

LyrLinkSysMgrLog::~LyrLinkSysMgrLog() = default;

void LyrLinkSysMgrLog::write (const char* format, ...)
{
    if (m_logger == nullptr)
        return;

    va_list args;
    va_start (args, format);
    const auto message = formatLogMessage (format, args);
    va_end (args);

    std::function<juce::Time()> clock;
    std::function<void (const std::string&)> observer;
    bool writesFile = true;
    {
        const std::lock_guard<std::mutex> g (m_hookLock);
        clock = m_clock;
        observer = m_observer;
        writesFile = m_writesFile;
    }
    if (writesFile)
        m_logger->logMessage (formatLogLine (clock(), message));
    if (observer)
        observer (message);
}

void LyrLinkSysMgrLog::setClock (std::function<juce::Time()> clock)
{
    const std::lock_guard<std::mutex> g (m_hookLock);
    m_clock = std::move (clock);
}

void LyrLinkSysMgrLog::setObserver (std::function<void (const std::string&)> observer)
{
    const std::lock_guard<std::mutex> g (m_hookLock);
    m_observer = std::move (observer);
}

void LyrLinkSysMgrLog::setWritesFile (bool writesFile)
{
    const std::lock_guard<std::mutex> g (m_hookLock);
    m_writesFile = writesFile;
}

} // namespace lyrlink
