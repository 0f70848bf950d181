// Every allocation of the MP4 reader failing in turn: the walk's texts and
// decoder configurations, and the properties the reader adds.  The heap is
// interposed here, so the test runs only in builds without a sanitizer.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "mp4_bytes.h"
#include "tag_test.h"
#include "tarvo_alloc_fail.h"

using namespace mp4_bytes;
using alloc_fail::every_failure;

TEST(Mp4Alloc, EveryAllocationFailingInTurn)
{
  std::string tracks = aac_trak(1) + trak(2, "vide", 25, video_entry("mp4v", 320, 240, esds(0x20, 9, 9, mpeg4_config())));
  std::string tags = udta(item("\xA9nam", std::string("\0T\0i", 4), 2) + item("\xA9" "ART", "Band") +
                          item("gnre", be16(2)));
  tarvo_test::scratch_dir d;
  tarvo_test::write_file(d / "a.mp4", movie(tracks, 100, tags));
  int fd = open((d / "a.mp4").c_str(), O_RDONLY);
  sys_file_stat_rec st{};
  ASSERT_TRUE(sys_file_fstat(fd, &st));
  every_failure("mp4_parse", [&] {
    mp4_info i;
    if (!mp4_parse(&i, fd, &st)) return 0;
    bool right = i.title && !std::strcmp(i.title, "Ti") && i.artist && i.genre && !std::strcmp(i.genre, "Classic Rock") &&
                 i.audio_sample_rate == 44100 && i.video_width == 320;
    mp4_info_free(&i);
    return right ? 1 : -1;
  });
  every_failure("mp4_read", [&] {
    tag_test::props p;
    if (!mp4_read(fd, &st, "video/mp4", p.n(), p.v())) return 0;
    // No std::string here: its allocations would fail too.
    const char *cls = tag_property_value(p.n(), p.v(), "upnp:class");
    return p.l.names.len == p.l.values.len && p.get("dc:title") == "Ti" && p.get("res@resolution") == "320x240" &&
                   cls && !std::strcmp(cls, "object.item.videoItem")
               ? 1
               : -1;
  });
  close(fd);
}
