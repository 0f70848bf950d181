// Failing every allocation in turn: the heap of the test program is
// interposed, so that a reader can be run with its 1st, 2nd, ... allocation
// failing and checked for a clean result and no leak.  Include it from one
// file of a test program only.  Under a sanitizer, which brings its own
// heap, the tests skip.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVO_ALLOC_NO_INTERPOSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARVO_ALLOC_NO_INTERPOSE 1
#endif
#endif

namespace alloc_fail {
inline long fail_at = 0;  // 0: nothing fails; n: the n-th allocation from now fails
inline bool failed = false;
inline long live = 0;  // allocations not yet freed
}  // namespace alloc_fail

#ifndef TARVO_ALLOC_NO_INTERPOSE
namespace alloc_fail {
inline bool fail_now()
{
  if (fail_at <= 0 || --fail_at) return false;
  return failed = true;
}
}  // namespace alloc_fail

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n)
{
  void *p = alloc_fail::fail_now() ? nullptr : __libc_malloc(n);
  alloc_fail::live += p != nullptr;
  return p;
}

void *calloc(size_t n, size_t m)
{
  void *p = alloc_fail::fail_now() ? nullptr : __libc_calloc(n, m);
  alloc_fail::live += p != nullptr;
  return p;
}

void *realloc(void *old, size_t n)
{
  if (alloc_fail::fail_now()) return nullptr;
  void *p = __libc_realloc(old, n);
  alloc_fail::live += (!old && p) - (old && !n);
  return p;
}

void free(void *p)
{
  alloc_fail::live -= p != nullptr;
  __libc_free(p);
}
}
#endif

namespace alloc_fail {

// Runs op with its 1st, 2nd, ... allocation failing until it runs through.
// op frees what it got and returns 1 for success, 0 for a clean failure
// and -1 for a wrong or partial result.  With warm_up, op first runs once
// in full, so that caches it fills on first use do not count as leaks.
inline void every_failure(const char *what, const std::function<int()> &op, bool warm_up = false)
{
#ifdef TARVO_ALLOC_NO_INTERPOSE
  GTEST_SKIP() << "the heap cannot be interposed under a sanitizer";
#endif
  if (warm_up) {
    ASSERT_EQ(op(), 1) << what;
  }
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

}  // namespace alloc_fail
