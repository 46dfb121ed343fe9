#include "alloc_count.hpp"

#include <cerrno>
#include <cstddef>

// The C library's allocator under its own names (glibc exports them for
// exactly this: wrappers that must not call themselves).
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void *__libc_memalign(std::size_t align, std::size_t size);
void *__libc_valloc(std::size_t size);
void *__libc_pvalloc(std::size_t size);
void __libc_free(void *p);
}

namespace {

volatile std::uint64_t own_count = 0;
volatile std::uint64_t *count_at = &own_count;

inline void note() { *count_at = *count_at + 1; }

}  // namespace

void alloc_count_attach(volatile std::uint64_t *counter) {
  *counter = *count_at;
  count_at = counter;
}

std::uint64_t alloc_count() { return *count_at; }

extern "C" {

void *malloc(std::size_t size) noexcept {
  note();
  return __libc_malloc(size);
}

void *calloc(std::size_t n, std::size_t size) noexcept {
  note();
  return __libc_calloc(n, size);
}

void *realloc(void *p, std::size_t size) noexcept {
  note();
  return __libc_realloc(p, size);
}

void free(void *p) noexcept { __libc_free(p); }

void *memalign(std::size_t align, std::size_t size) noexcept {
  note();
  return __libc_memalign(align, size);
}

void *aligned_alloc(std::size_t align, std::size_t size) noexcept {
  note();
  return __libc_memalign(align, size);
}

int posix_memalign(void **out, std::size_t align, std::size_t size) noexcept {
  if (align < sizeof(void *) || (align & (align - 1)) != 0) return EINVAL;
  note();
  void *p = __libc_memalign(align, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

void *valloc(std::size_t size) noexcept {
  note();
  return __libc_valloc(size);
}

void *pvalloc(std::size_t size) noexcept {
  note();
  return __libc_pvalloc(size);
}

}  // extern "C"
