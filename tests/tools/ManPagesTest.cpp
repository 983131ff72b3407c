// The man pages in docs/man, written by hand, against each program's --help: every option the
// program lists is in its page and every option the page names is one the program lists, so the
// two cannot drift apart.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace
{

/** The options named in a text: "-h" and "--name" words, not the hyphens inside words
    ("all-in-one", "ID-use"). In roff a hyphen is written "\-". */
std::set<std::string> optionsIn (std::string text)
{
    for (size_t at = 0; (at = text.find ("\\-", at)) != std::string::npos;)
        text.replace (at, 2, "-");
    const auto isWordChar = [] (char c) { return std::isalnum (static_cast<unsigned char> (c)) || c == '-' || c == '_'; };
    std::set<std::string> options;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '-' || (i > 0 && isWordChar (text[i - 1])))
            continue;
        size_t end = i + (i + 1 < text.size() && text[i + 1] == '-' ? 2 : 1);
        if (end >= text.size() || ! std::isalpha (static_cast<unsigned char> (text[end])))
            continue;
        while (end < text.size() && (std::isalnum (static_cast<unsigned char> (text[end])) || text[end] == '-'))
            ++end;
        const auto option = text.substr (i, end - i);
        // A short option is one letter; longer words after one hyphen are no options ("-blocking").
        if (option[1] == '-' || option.size() == 2)
            options.insert (option);
        i = end;
    }
    return options;
}

std::string readFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/** The program's --help on standard output; its exit status must be 0. */
std::string helpOf (const std::string& program)
{
    FILE* p = ::popen ((program + " --help").c_str(), "r");
    if (p == nullptr)
        return {};
    std::string output;
    char buffer[512];
    while (std::fgets (buffer, sizeof (buffer), p) != nullptr)
        output += buffer;
    const int status = ::pclose (p);
    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0) << program << " --help";
    return output;
}

} // namespace

TEST (ManPages, NameEveryOptionOfTheirProgramAndNoOther)
{
    const struct
    {
        const char* program;  // in the build folder
        const char* page;     // in the source tree
    } pages[] = {
        { "LyrLinkSysMgr", "docs/man/LyrLinkSysMgr.1" },
        { "tools/lyrlinkctl/lyrlinkctl", "docs/man/lyrlinkctl.1" },
        { "tools/lyrlinksim/lyrlinksim", "docs/man/lyrlinksim.1" },
    };
    for (const auto& p : pages)
    {
        SCOPED_TRACE (p.page);
        const auto help = helpOf (std::string (LYRLINK_BINARY_DIR) + "/" + p.program);
        const auto page = readFile (std::string (LYRLINK_SOURCE_DIR) + "/" + p.page);
        ASSERT_FALSE (help.empty()) << p.program << " is not built";
        ASSERT_FALSE (page.empty());
        const auto inHelp = optionsIn (help);
        const auto inPage = optionsIn (page);
        EXPECT_TRUE (inHelp.count ("--help") == 1 && inHelp.count ("-h") == 1);
        for (const auto& option : inHelp)
            EXPECT_EQ (inPage.count (option), 1u) << option << " is in --help but not in the page";
        for (const auto& option : inPage)
            EXPECT_EQ (inHelp.count (option), 1u) << option << " is in the page but not in --help";
    }
}

TEST (ManPages, OptionsAreFoundAsWordsOnly)
{
    EXPECT_EQ (optionsIn ("  --json   all\\-in\\-one \\-\\-no\\-join [-h] ID-use -blocking --count N\n"),
               (std::set<std::string> { "--json", "--no-join", "-h", "--count" }));
}
