// Counts heap allocations of the whole process: malloc, calloc, realloc and
// the aligned forms (and so operator new) are replaced by wrappers that count
// and forward to the C library's allocator. Link alloc_count.cpp into an
// executable to use it; it is not for sanitizer builds, whose runtime owns malloc.
#pragma once

#include <cstdint>

// Moves the count to *counter (e.g. a word of a shared mapping that another
// process reads) and counts there from now on. The count so far is carried over.
void alloc_count_attach(volatile std::uint64_t *counter);

// Allocations counted since the process started.
std::uint64_t alloc_count();
