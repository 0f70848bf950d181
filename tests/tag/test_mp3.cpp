// The MPEG audio reader on streams built from bytes: frame sync,
// duration and bitrate by layer and version, VBR headers, and long files
// read through a bounded window.
#include <gtest/gtest.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

#include "mp3_test.h"
#include "tag_test.h"

using namespace mp3_test;
using tag_test::props;

namespace {

struct mp3_file {
  tarvo_test::scratch_dir d;
  std::string path = d / "a.mp3";
  explicit mp3_file(const std::string &bytes) { tarvo_test::write_file(path, bytes); }
  // The reader's properties, or none when it fails.
  void read(props &p, const char *mime = "audio/mpeg") const
  {
    int fd = open(path.c_str(), O_RDONLY);
    sys_file_stat_rec st;
    ASSERT_TRUE(sys_file_fstat(fd, &st));
    if (!tag_mp3_read(fd, &st, 0, mime, p.n(), p.v())) tag_property_list_clear(p.n(), p.v());
    close(fd);
  }
};

// "H:MM:SS.mmm" in milliseconds.
int64_t ms_of(const std::string &d)
{
  unsigned h, m, s, ms = 0;
  if (std::sscanf(d.c_str(), "%u:%u:%u.%u", &h, &m, &s, &ms) < 3) return -1;
  return ((h * 60 + m) * 60 + s) * 1000LL + ms;
}

int64_t expected_ms(const kind &k, int n) { return int64_t(n) * samples(k) * 1000 / sample_rate(k); }

}  // namespace

TEST(Mp3, StreamPropertiesByLayerAndVersion)
{
  struct {
    const char *what;
    kind k;
    const char *rate, *channels;
    bool profile;
  } cases[] = {
      {"MPEG-1 Layer III 128k", {3, 1, 9, 0, 1}, "44100", "2", true},
      {"MPEG-1 Layer III mono", {3, 1, 5, 1, 3}, "48000", "1", true},
      {"MPEG-2 Layer III 22.05k", {2, 1, 8, 0, 0}, "22050", "2", false},
      {"MPEG-2.5 Layer III 8k", {0, 1, 4, 2, 3}, "8000", "1", false},
      // Layer II of MPEG-2 carries 1152 samples, Layer I 384: the 576 of
      // MPEG-2 Layer III gave half and three times the length.
      {"MPEG-2 Layer II 24k", {2, 2, 8, 1, 0}, "24000", "2", false},
      {"MPEG-1 Layer I", {3, 3, 12, 0, 0}, "44100", "2", false},
      {"MPEG-1 Layer II 32k", {3, 2, 10, 2, 0}, "32000", "2", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    int n = 300;
    mp3_file f(frames(c.k, n));
    props p;
    f.read(p);
    EXPECT_EQ(p.get("res@sampleFrequency"), c.rate);
    EXPECT_EQ(p.get("res@nrAudioChannels"), c.channels);
    EXPECT_EQ(p.get("res@bitrate"), std::to_string(bitrate(c.k) / 8));
    EXPECT_EQ(ms_of(p.get("res@duration")), expected_ms(c.k, n));
    EXPECT_EQ(p.get("res@protocolInfo").find("DLNA.ORG_PN=MP3;") != std::string::npos, c.profile);
  }
}

TEST(Mp3, SyncIsFoundBehindTagAndJunkButNeedsThreeFrames)
{
  kind k;
  std::string tag = id3v2(3, frame(3, "TIT2", text("T")) + std::string(500, '\0'));
  // A lone header of another stream that leads into junk, then the
  // stream.
  kind other{2, 1, 1, 0, 0};
  std::string junk = "junk" + header(other, false) + std::string(100, 'j');
  mp3_file good(tag + junk + frames(k, 50));
  props p;
  good.read(p);
  EXPECT_EQ(ms_of(p.get("res@duration")), expected_ms(k, 50));
  EXPECT_EQ(p.get("dc:title"), "T");

  mp3_file two(tag + frames(k, 2));
  props q;
  two.read(q);
  EXPECT_TRUE(q.all().empty());
  EXPECT_NE(tag_test::item(two.path, "audio/mpeg").find("application/octet-stream"), std::string::npos);

  // Junk past the search bound: the file may still be audio, and keeps its
  // tags and its class.
  mp3_file far(tag + std::string(TAG_MP3_SYNC_SEARCH_MAX + 1, 'j') + frames(k, 50));
  props r;
  far.read(r);
  EXPECT_EQ(r.get("dc:title"), "T");
  EXPECT_EQ(r.get("res@duration"), "<none>");
  EXPECT_NE(tag_test::item(far.path, "audio/mpeg").find("object.item.audioItem"), std::string::npos);
}

TEST(Mp3, VbrHeadersGiveCountsUnlessIncomplete)
{
  kind k;  // MPEG-1 Layer III stereo: side information of 32 bytes
  std::string first = frames(k, 1);
  auto with = [&](size_t at, const std::string &h) {
    std::string f = first;
    f.replace(at, h.size(), h);
    return f + frames(k, 99);
  };
  // The header's count of 90 frames of 417.96 bytes on average (2.351 s
  // at 128 kbit/s) stands for the 100 frames of the file.
  std::string xing = with(36, "Xing" + be32(3) + be32(90) + be32(37616));
  std::string vbri = with(36, "VBRI" + std::string(6, '\0') + be32(37616) + be32(90));
  std::string frames_only = with(36, "Xing" + be32(1) + be32(90) + be32(37616));
  // Counts the file cannot hold are not believed.
  std::string beyond_file = with(36, "Xing" + be32(3) + be32(900000) + be32(376160000));
  for (auto [bytes, want] : {std::pair{xing, 2351}, {vbri, 2351}, {frames_only, 2612}, {beyond_file, 2612}}) {
    mp3_file f(bytes);
    props p;
    f.read(p);
    EXPECT_EQ(ms_of(p.get("res@duration")), want);
    EXPECT_EQ(p.get("res@bitrate"), "16000");
  }
}

// An hour of one bitrate costs no more reading than a minute: headers
// spread over it stand where its rate puts them, and the rest is worked out
// from its size.  Joined recordings are counted frame by frame: a change of
// rate near the end, and parts of another rate inside whose start, middle
// and end agree (4 min at 128k, 2 at 320k, 12 at 128k showed 21 min for 18),
// even one of 256k, whose frames keep the 128k frames' places after it.
TEST(Mp3, FramesCountedUnlessSpreadHeadersKeepOneRate)
{
  kind k, hi = k, twice = k;
  hi.rate_index = 14;
  twice.rate_index = 12;
  int hour = 3600 * 44100 / 1152, minute = 60 * 44100 / 1152;
  std::string tag = id3v2(4, frame(4, "TIT2", text("Long")));
  std::string cbr = tag + frames(k, hour);
  struct {
    std::string bytes;
    int64_t ms;
    bool bounded;
  } cases[] = {
      {cbr, expected_ms(k, hour), true},
      {cbr + frames(hi, minute), expected_ms(k, hour + minute), false},
      {tag + frames(k, 4 * minute) + frames(hi, 2 * minute) + frames(k, 12 * minute), expected_ms(k, 18 * minute), false},
      {tag + frames(k, 5 * minute) + frames(twice, minute / 2) + frames(k, 15 * minute),
       expected_ms(k, 20 * minute + minute / 2), false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.bytes.size());
    mp3_file f(c.bytes);
    props p;
    uint64_t before = bytes_read();
    ASSERT_EQ(tarvo_tag_get_properties(f.path.c_str(), "audio/mpeg", p.n(), p.v()), 1);
    if (c.bounded) {
      EXPECT_LE(bytes_read() - before, 2048u * 1024);
    }
    EXPECT_NEAR(double(ms_of(p.get("res@duration"))), double(c.ms), 27);
    EXPECT_EQ(p.get("dc:title"), "Long");
  }

  kind lo = k;
  hi.rate_index = 11;
  lo.rate_index = 7;
  std::string vbr;
  for (int i = 0; i < 8000; i++) vbr += frames(i % 2 ? hi : lo, 1);
  mp3_file f(vbr);
  props q;
  f.read(q);
  EXPECT_EQ(ms_of(q.get("res@duration")), expected_ms(k, 8000));
  EXPECT_EQ(q.get("res@bitrate"), "18000");
}
