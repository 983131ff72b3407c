// <windows.h> as every Windows file of the project includes it: without the min and max macros,
// which break std::min and std::max, and without winsock.h, which would clash with a later
// winsock2.h.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
