// A file of its own: inlined into its caller, the compiler would pair each
// free with an allocation it cannot see through. glibc's own allocator
// stays in charge, under its exported names.
#include "bench/heap_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<unsigned long> g_allocations{0};

void Count()
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

unsigned long qgbench::HeapAllocations()
{
    return g_allocations.load(std::memory_order_relaxed);
}

extern "C" {

void* malloc(size_t n)
{
    Count();
    return __libc_malloc(n);
}

void* calloc(size_t count, size_t size)
{
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* p, size_t n)
{
    Count();
    return __libc_realloc(p, n);
}

void free(void* p)
{
    __libc_free(p);
}

void* memalign(size_t alignment, size_t n)
{
    Count();
    return __libc_memalign(alignment, n);
}

void* aligned_alloc(size_t alignment, size_t n)
{
    Count();
    return __libc_memalign(alignment, n);
}

int posix_memalign(void** out, size_t alignment, size_t n)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    Count();
    void* p = __libc_memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"
