// What the command-line tools say about a command line CLI11 refused, in the tools' own words.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace lyrlink::tools
{

/** The parser's message, with an option given without its value ("--port needs a value") and a
    flag given a value ("--json takes no value") put plainly. */
inline std::string describeParseError (const CLI::Error& e)
{
    const std::string what = e.what();
    const auto colon = what.find (':');
    if (dynamic_cast<const CLI::ArgumentMismatch*> (&e) != nullptr && colon != std::string::npos
        && what.find ("required", colon) != std::string::npos)
        return what.substr (0, colon) + " needs a value";
    if (what.find ("disallowed flag override") != std::string::npos)
        return "--" + what.substr (0, what.find (' ')) + " takes no value";
    return what;
}

} // namespace lyrlink::tools
