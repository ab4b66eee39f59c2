// Heap allocations of the whole process, every thread: malloc, calloc,
// realloc and the aligned allocations are replaced in the program by
// counting ones that hand on to the C library's own; operator new comes
// through malloc (the C++ library's does, and tests/support/alloc_counter's,
// which counts it per thread besides). Linked into a program that exports
// its symbols, so the libraries it links or opens allocate through it too.
#ifndef QG_BENCH_HEAP_COUNTER_H
#define QG_BENCH_HEAP_COUNTER_H

namespace qgbench {

// Allocations so far, of any kind and thread.
unsigned long HeapAllocations();

}  // namespace qgbench

#endif
