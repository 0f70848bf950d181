// Allocation failures for tests: the heap is interposed so that the n-th
// allocation from a chosen moment fails, and live allocations are counted.
// Include it in one source file of a test program only (it defines malloc
// and free).  Under a sanitizer, which brings its own heap, every_failure
// skips the test.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVO_NO_INTERPOSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARVO_NO_INTERPOSE 1
#endif
#endif

namespace tarvo_alloc {
inline long fail_at = 0;  // 0: nothing fails; n: the n-th allocation from now fails
inline bool failed = false;  // whether an allocation was made to fail
inline long live = 0;        // allocations not yet freed

inline bool fail_now()
{
  if (fail_at <= 0 || --fail_at) return false;
  return failed = true;
}
}  // namespace tarvo_alloc

#ifndef TARVO_NO_INTERPOSE

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n)
{
  void *p = tarvo_alloc::fail_now() ? nullptr : __libc_malloc(n);
  tarvo_alloc::live += p != nullptr;
  return p;
}

void *calloc(size_t n, size_t m)
{
  void *p = tarvo_alloc::fail_now() ? nullptr : __libc_calloc(n, m);
  tarvo_alloc::live += p != nullptr;
  return p;
}

void *realloc(void *old, size_t n)
{
  if (tarvo_alloc::fail_now()) return nullptr;
  void *p = __libc_realloc(old, n);
  tarvo_alloc::live += (!old && p) - (old && !n);
  return p;
}

void free(void *p)
{
  tarvo_alloc::live -= p != nullptr;
  __libc_free(p);
}
}
#endif

namespace tarvo_alloc {

// Runs op with its 1st, 2nd, ... allocation failing until it runs through.
// op frees what it got and returns 1 for success, 0 for a clean failure
// and -1 for a wrong or partial result.
inline void every_failure(const char *what, const std::function<int()> &op)
{
#ifdef TARVO_NO_INTERPOSE
  GTEST_SKIP() << "the heap cannot be interposed under a sanitizer";
#endif
  for (long k = 1; k < 100000; k++) {
    long before = live;
    failed = false;
    fail_at = k;
    int r = op();
    fail_at = 0;
    ASSERT_EQ(live, before) << what << ": leak with allocation " << k << " failing";
    ASSERT_NE(r, -1) << what << ": wrong result with allocation " << k << " failing";
    if (!failed) {
      ASSERT_EQ(r, 1) << what;
      return;
    }
  }
}

}  // namespace tarvo_alloc
