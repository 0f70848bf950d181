// Every allocation of the MP3 and ID3 readers failing in turn: each call
// must fail cleanly or give what it found, and leave nothing allocated
// behind.  The heap is interposed here, so the test runs only in builds
// without a sanitizer, which bring their own.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "mp3_test.h"
#include "tag_test.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MP3_NO_INTERPOSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MP3_NO_INTERPOSE 1
#endif
#endif

using namespace mp3_test;

namespace {
long fail_at = 0;  // 0: nothing fails; n: the n-th allocation from now fails
bool failed = false;
long live = 0;  // allocations not yet freed
}  // namespace

#ifndef MP3_NO_INTERPOSE
static bool fail_now()
{
  if (fail_at <= 0 || --fail_at) return false;
  return failed = true;
}

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n)
{
  void *p = fail_now() ? nullptr : __libc_malloc(n);
  live += p != nullptr;
  return p;
}

void *calloc(size_t n, size_t m)
{
  void *p = fail_now() ? nullptr : __libc_calloc(n, m);
  live += p != nullptr;
  return p;
}

void *realloc(void *old, size_t n)
{
  if (fail_now()) return nullptr;
  void *p = __libc_realloc(old, n);
  live += (!old && p) - (old && !n);
  return p;
}

void free(void *p)
{
  live -= p != nullptr;
  __libc_free(p);
}
}
#endif

namespace {

// Runs op once in full (charset converters are cached on first use), then
// with its 1st, 2nd, ... allocation failing until it runs through.  op
// returns 1 for the full result, 0 for a clean failure or a result with
// fields missing, -1 for a wrong one.
void every_failure(const char *what, const std::function<int()> &op)
{
#ifdef MP3_NO_INTERPOSE
  GTEST_SKIP() << "the heap cannot be interposed under a sanitizer";
#endif
  ASSERT_EQ(op(), 1) << what;
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

struct opened {
  tarvo_test::scratch_dir d;
  int fd = -1;
  sys_file_stat_rec st{};
  explicit opened(const std::string &bytes)
  {
    tarvo_test::write_file(d / "a.mp3", bytes);
    fd = open((d / "a.mp3").c_str(), O_RDONLY);
    sys_file_fstat(fd, &st);
  }
  ~opened() { close(fd); }
};

// The value of the ID3v2 tag (1), none or the ID3v1 fallback (0), or a
// wrong one (-1).
int same_or_missing(const char *got, const char *want, const char *fallback = "")
{
  if (!got || std::strcmp(got, fallback) == 0) return 0;
  return std::strcmp(got, want) == 0 ? 1 : -1;
}

}  // namespace

TEST(Mp3Alloc, TagsAndReader)
{
  std::string tag = id3v2(3, frame(3, "TIT2", '\1' + std::string("\xff\xfe" "T\0i\0", 6)) +
                                 frame(3, "TPE1", text("Band")) + frame(3, "TCON", text("(17)")) +
                                 frame(3, "COMM", std::string("\0eng\0note", 9)));
  opened f(tag + frames(kind{}, 5) + id3v1("One", 8));
  every_failure("id3_tags_read", [&] {
    id3_tags *t = id3_tags_read(f.fd, &f.st);
    if (!t) return 0;
    int r = std::min({same_or_missing(t->title, "Ti", "One"), same_or_missing(t->artist, "Band"),
                      same_or_missing(t->genre, "Rock", "Jazz"), same_or_missing(t->comment, "note")});
    if (t->album) r = -1;
    id3_tags_free(t);
    return r;
  });
  every_failure("tag_mp3_read", [&] {
    tag_test::props p;
    if (!tag_mp3_read(f.fd, &f.st, 0, "audio/mpeg", p.n(), p.v())) return 0;
    if (p.l.names.len != p.l.values.len) return -1;
    return p.get("res@sampleFrequency") == "44100" && p.get("dc:title") == "Ti" && p.get("dc:description") == "note"
               ? 1
               : 0;
  });
}
