// Telling Wine from Windows at run time, for the tests of facilities that Wine only stubs (the
// WLAN API, the UDP table, the refusal of a second pipe instance): they skip under Wine, naming
// it, and run in full on Windows.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h brings windows.h after itself, so tests may include either after this header.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

namespace lyrlink::test
{

/** Wine's version when the program runs under Wine (ntdll then exports wine_get_version), else
    null. */
inline const char* wineVersion()
{
    const HMODULE ntdll = ::GetModuleHandleW (L"ntdll.dll");
    if (ntdll == nullptr)
        return nullptr;
    using Getter = const char* (*)();
    const auto get = reinterpret_cast<Getter> (reinterpret_cast<void*> (::GetProcAddress (ntdll, "wine_get_version")));
    return get != nullptr ? get() : nullptr;
}

inline bool isWine() { return wineVersion() != nullptr; }

/** The reason given for a skip under Wine: "Wine <version> <what>". */
inline std::string underWine (const std::string& what) { return std::string ("Wine ") + wineVersion() + " " + what; }

} // namespace lyrlink::test
