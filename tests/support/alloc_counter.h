// A program's operator new that counts heap allocations per thread. Linked
// into a program that exports its symbols, so the libraries it opens or
// links allocate through it too.
#ifndef QG_TESTS_SUPPORT_ALLOC_COUNTER_H
#define QG_TESTS_SUPPORT_ALLOC_COUNTER_H

namespace qgtest {

// Heap allocations of the calling thread so far.
unsigned long ThreadNews();

}  // namespace qgtest

#endif
