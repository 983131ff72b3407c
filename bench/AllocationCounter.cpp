#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
// Constant-initialised and in the executable itself: reading it allocates nothing, so the malloc
// below may use it.
thread_local size_t t_allocations = 0;
} // namespace

size_t lyrlink::bench::allocationsOnThisThread() noexcept { return t_allocations; }

void* operator new (std::size_t size)
{
    ++t_allocations;
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[] (std::size_t size) { return operator new (size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

#if defined(__GLIBC__) && ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__)
// glibc lets a program replace malloc and friends; these count and hand over to glibc's own.
// operator new above reaches malloc too, so a new is counted once there and once here: the
// counts are for telling zero from not zero.
extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void __libc_free (void*);

    void* malloc (size_t size)
    {
        ++t_allocations;
        return __libc_malloc (size);
    }

    void* calloc (size_t count, size_t size)
    {
        ++t_allocations;
        return __libc_calloc (count, size);
    }

    void* realloc (void* p, size_t size)
    {
        ++t_allocations;
        return __libc_realloc (p, size);
    }

    void free (void* p) { __libc_free (p); }
}
#endif
