// Heap allocations made on the calling thread, counted by the benchmark binary's own operator new
// and (outside sanitizer builds) its malloc family, which JUCE's heap blocks use.
#pragma once

#include <cstddef>

namespace lyrlink::bench
{

/** Allocations (operator new, malloc, calloc, realloc) made on this thread so far. */
size_t allocationsOnThisThread() noexcept;

} // namespace lyrlink::bench
