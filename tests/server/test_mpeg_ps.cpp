#include <vennard/mpeg_ps.h>

#include <gtest/gtest.h>

#include <tarvo_util/utf8file.h>

#include <string>
#include <vector>

#include "tarvo_test.h"

namespace {

using bytes = std::vector<unsigned char>;

constexpr uint64_t FIRST = 10 * 90000;  // the first PTS: 10 s on the stream's clock

void put_pts(bytes &b, unsigned lead, uint64_t pts)
{
  b.push_back(uint8_t(lead | ((pts >> 29) & 0x0E) | 1));
  b.push_back(uint8_t(pts >> 22));
  b.push_back(uint8_t(((pts >> 14) & 0xFE) | 1));
  b.push_back(uint8_t(pts >> 7));
  b.push_back(uint8_t(((pts << 1) & 0xFE) | 1));
}

// A small program-stream writer: units of a pack header, an audio packet
// and a video packet, padded to a fixed size so that the byte rate is
// constant and unit i starts at i * unit bytes.
struct ps_writer {
  bytes data;
  std::vector<uint64_t> packs;  // offset of each unit's pack header

  void pack()
  {
    packs.push_back(data.size());
    const unsigned char h[] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};
    data.insert(data.end(), h, h + sizeof h);
  }

  // A PES packet of stream id with an MPEG-2 header, the PTS (when not
  // MPEG_PTS_NONE), an optional GOP header and filler up to total bytes.
  void pes(unsigned id, uint64_t pts, bool gop, size_t total)
  {
    bytes p = {0x80, uint8_t(pts == MPEG_PTS_NONE ? 0x00 : 0x80), uint8_t(pts == MPEG_PTS_NONE ? 0 : 5)};
    if (pts != MPEG_PTS_NONE) put_pts(p, 0x20, pts);
    if (gop) p.insert(p.end(), {0, 0, 1, 0xB8, 0x08, 0, 0x40, 0});
    p.resize(total - 6, 0xFF);
    data.insert(data.end(), {0, 0, 1, uint8_t(id), uint8_t(p.size() >> 8), uint8_t(p.size())});
    data.insert(data.end(), p.begin(), p.end());
  }

  // Units of `unit` bytes every step_ms, for count units; a GOP every
  // gop_every units.
  void stream(uint32_t count, uint32_t step_ms, size_t unit, uint32_t gop_every, uint64_t first = FIRST)
  {
    for (uint32_t i = 0; i < count; i++) {
      pack();
      pes(0xC0, first + uint64_t(i) * step_ms * 90, false, 100);
      pes(0xE0, first + uint64_t(i) * step_ms * 90, i % gop_every == 0, unit - 14 - 100);
    }
  }
};

struct seek_result {
  int ok;
  http_server_range_rec range;
  http_server_npt_rec times;
};

seek_result seek(const bytes &data, uint32_t start, uint32_t end, uint32_t total, uint32_t bitrate)
{
  tarvo_test::scratch_dir dir;
  std::string path = dir / "a.mpg";
  tarvo_test::write_file(path, std::string(data.begin(), data.end()));
  seek_result r{};
  r.times = {start, end, total};
  int fd = -1;
  EXPECT_EQ(utf8file_open_read(&fd, path.c_str()), 1);
  sys_file_stat_rec st{};
  EXPECT_EQ(sys_file_fstat(fd, &st), 1);
  r.ok = mpeg_ps_time_seek(&r.range, &r.times, bitrate, fd, &st);
  int64_t pos = -1;
  sys_file_seek_pos(fd, &pos);
  if (r.ok) {
    EXPECT_EQ(pos, 0);
  }
  sys_file_close(fd);
  return r;
}

// The range [first, last) of the file and the times it announces.
void expect_seek(const seek_result &r, uint64_t first, uint64_t last, uint32_t start_ms, uint32_t end_ms,
                 const char *what = "")
{
  ASSERT_EQ(r.ok, 1) << what;
  EXPECT_EQ(r.range.offset, first) << what;
  EXPECT_EQ(r.range.offset + r.range.length, last) << what;
  EXPECT_EQ(r.times.start_ms, start_ms) << what;
  EXPECT_EQ(r.times.end_ms, end_ms) << what;
}

}  // namespace

TEST(mpeg_ps_seek, whole_file_and_start_zero)
{
  ps_writer w;
  w.stream(120, 1000, 10000, 1);
  seek_result r = seek(w.data, 0, 120000, 120000, 10000);
  expect_seek(r, 0, w.data.size(), 0, 120000);
  EXPECT_EQ(r.range.size, w.data.size());
}

TEST(mpeg_ps_seek, start_lands_on_the_pack_of_a_gop_just_before)
{
  // A video packet every 0.25 s, a GOP every second.
  ps_writer w;
  w.stream(480, 250, 2500, 4);
  // The GOP at 30.0 s, 0.4 s before the target; the range starts at its
  // pack header, not at the packet.
  expect_seek(seek(w.data, 30400, 120000, 120000, 10000), w.packs[120], w.data.size(), 30000, 120000);
}

TEST(mpeg_ps_seek, jumps_correct_a_wrong_rate)
{
  ps_writer w;
  w.stream(480, 250, 2500, 4);
  // A rate far above the file's average is capped at the average; one far
  // below it is corrected by the PTS found after each jump.
  for (uint32_t rate : {10000u, 100000u, 5000u, 2000u})
    expect_seek(seek(w.data, 60000, 90000, 120000, rate), w.packs[240], w.packs[360], 60000, 90000,
                std::to_string(rate).c_str());
}

TEST(mpeg_ps_seek, end_stops_on_a_packet_shortly_after_the_target)
{
  ps_writer w;
  w.stream(120, 1000, 10000, 1);
  expect_seek(seek(w.data, 10000, 59700, 120000, 10000), w.packs[10], w.packs[60], 10000, 60000);
}

TEST(mpeg_ps_seek, start_without_a_gop_near_the_target_falls_back_to_a_pack)
{
  // Only the first packet carries a GOP: the start search runs to the end
  // of the file and takes the last pack header of its last 4096 bytes.
  ps_writer w;
  w.stream(480, 250, 2500, 100000);
  seek_result r = seek(w.data, 50000, 120000, 120000, 10000);
  ASSERT_EQ(r.ok, 1);
  uint64_t want = 0;
  for (uint64_t p : w.packs)
    if (p >= w.data.size() - 4096) {
      want = p;
      break;
    }
  EXPECT_EQ(r.range.offset, want);
  EXPECT_EQ(r.times.start_ms, 50000u);
}

TEST(mpeg_ps_seek, a_pts_before_the_first_one_gives_time_zero)
{
  // Reordered frames: the GOP that follows the first video packet carries
  // an earlier PTS.  Its time is the start of the resource, not a time
  // some 26 hours on.
  ps_writer w;
  w.pack();
  w.pes(0xE0, FIRST, false, 2000);
  w.pes(0xBE, MPEG_PTS_NONE, false, 12000);  // padding beyond the read-ahead
  w.pack();
  w.pes(0xE0, FIRST - 9000, true, 2000);
  for (int i = 1; i < 100; i++) {
    w.pack();
    w.pes(0xE0, FIRST + uint64_t(i) * 90000, true, 2000);
  }
  seek_result r = seek(w.data, 200, 100000, 100000, 1000);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.times.start_ms, 0u);
  EXPECT_EQ(r.range.offset, w.packs[1]);
}

TEST(mpeg_ps_seek, streams_that_cannot_be_seeked)
{
  ps_writer none;
  for (int i = 0; i < 50; i++) {
    none.pack();
    none.pes(0xE0, MPEG_PTS_NONE, true, 2000);
    none.pes(0xC0, FIRST + uint64_t(i) * 90000, false, 200);  // audio PTS do not count
  }
  EXPECT_EQ(seek(none.data, 0, 50000, 50000, 2200).ok, 0);

  ps_writer cut;
  cut.stream(10, 1000, 10000, 1);
  bytes truncated(cut.data.begin(), cut.data.begin() + 14 + 50);  // inside the first packet
  EXPECT_EQ(seek(truncated, 0, 10000, 10000, 10000).ok, 0);
  EXPECT_EQ(seek(bytes{}, 0, 10000, 10000, 10000).ok, 0);
}

TEST(mpeg_ps_seek, search_on_a_disordered_stream_ends)
{
  // PTS that run backwards through the file: every correction sends the
  // search the wrong way, and it must still end within its jump budget.
  ps_writer w;
  for (int i = 0; i < 400; i++) {
    w.pack();
    w.pes(0xE0, FIRST + uint64_t(400 - i) * 90000, true, 2500);
  }
  seek_result r = seek(w.data, 100000, 300000, 400000, 2514);
  ASSERT_EQ(r.ok, 1);
  EXPECT_LE(r.times.start_ms, 400000u);
  EXPECT_LE(r.times.end_ms, 400000u);
  EXPECT_LE(r.range.offset + r.range.length, w.data.size());
}
