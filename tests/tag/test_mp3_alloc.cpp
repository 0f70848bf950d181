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

#include "mp3_test.h"
#include "tag_test.h"
#include "tarvo_alloc_fail.h"

using namespace mp3_test;
using alloc_fail::every_failure;

namespace {

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
  }, true);
  every_failure("tag_mp3_read", [&] {
    tag_test::props p;
    if (!tag_mp3_read(f.fd, &f.st, 0, "audio/mpeg", p.n(), p.v())) return 0;
    if (p.l.names.len != p.l.values.len) return -1;
    return p.get("res@sampleFrequency") == "44100" && p.get("dc:title") == "Ti" && p.get("dc:description") == "note"
               ? 1
               : 0;
  }, true);
}
