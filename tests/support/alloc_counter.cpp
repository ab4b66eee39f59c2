// A file of its own: inlined into its caller, the compiler would pair each
// free with a new it cannot see through.
#include "tests/support/alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local unsigned long t_news = 0;
}

unsigned long qgtest::ThreadNews()
{
    return t_news;
}

void* operator new(std::size_t n)
{
    ++t_news;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    ++t_news;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept
{
    return operator new(n, t);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
