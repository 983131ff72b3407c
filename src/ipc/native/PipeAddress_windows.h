// The path of a pipe on Windows, shared by the manager's endpoint and the client library: the
// local machine's pipe folder "\\.\pipe\" and the name. Header-only and free of JUCE.
#pragma once

#include "app/native/WinApi_windows.h"

#include <string>

namespace lyrlink
{

/** "\\.\pipe\" followed by name, as the wide string the pipe functions take; empty when name is
    empty or not valid UTF-8. */
inline std::wstring makePipePath (const std::string& name)
{
    if (name.empty())
        return {};
    const int length =
        ::MultiByteToWideChar (CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int> (name.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide (static_cast<size_t> (length), L'\0');
    ::MultiByteToWideChar (CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int> (name.size()), wide.data(),
                           length);
    return L"\\\\.\\pipe\\" + wide;
}

} // namespace lyrlink
