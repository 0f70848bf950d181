// The program-stream reader and the container probe on streams written
// here byte by byte: the faults of the PTS span, the file rate, tiny
// packets and start-code look-alikes in audio payload, the probe's kinds,
// every allocation failing in turn, and the PES helpers the server shares.
#include <gtest/gtest.h>
#include <tarvo_test.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "mpegps_impl.h"
#include "tag_test.h"
#include "tarvo_alloc_fail.h"

namespace {

constexpr uint64_t TICKS = 90000;  // per second
constexpr uint64_t WRAP = uint64_t(1) << 33;

std::string be16(size_t v) { return {char(v >> 8), char(v)}; }

std::string pts5(unsigned lead, uint64_t pts)
{
  return {char(lead | ((pts >> 29) & 0x0E) | 1), char(pts >> 22), char(((pts >> 14) & 0xFE) | 1), char(pts >> 7),
          char(((pts << 1) & 0xFE) | 1)};
}

// An MPEG-2 sequence header of w x h at frame_rate_code, with the 18-bit
// rate value (0x3FFFF: variable).
std::string sequence_header(unsigned w, unsigned h, unsigned frame_rate_code, unsigned rate)
{
  return std::string("\0\0\1\xB3", 4) + char(w >> 4) + char(((w & 15) << 4) | (h >> 8)) + char(h) +
         char(0x20 | frame_rate_code) + char(rate >> 10) + char(rate >> 2) + char(((rate & 3) << 6) | 0x20) + '\0';
}

// MPEG-1 Layer II, 48 kHz, 224 kbit/s, stereo.
const std::string kMp2Frame("\xFF\xFD\xB4\x00", 4);

// A program stream of MPEG-2 packs, each with a video and an audio packet.
struct ps_writer {
  std::string d;

  void pack() { d += std::string("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3\xF8", 14); }
  // A PES packet with the bytes after its length as given.
  void raw(uint8_t id, const std::string &body) { d += std::string("\0\0\1", 3) + char(id) + be16(body.size()) + body; }
  // A PES packet with an MPEG-2 header, a PTS and the payload.
  void pes(uint8_t id, uint64_t pts, const std::string &payload)
  {
    raw(id, std::string("\x80\x80\x05", 3) + pts5(0x20, pts & (WRAP - 1)) + payload);
  }
  // frames units at 25 fps from first, the sequence header in every
  // twelfth, the audio payload given.
  void stream(uint64_t first, uint32_t frames, unsigned rate, const std::string &audio = kMp2Frame)
  {
    for (uint32_t i = 0; i < frames; i++) {
      pack();
      uint64_t pts = first + uint64_t(i) * TICKS / 25;
      std::string video = i % 12 == 0 ? sequence_header(720, 576, 3, rate) : std::string();
      pes(0xE0, pts, video + std::string(1500, '\x55'));
      pes(0xC0, pts, audio + std::string(400, '\x33'));
    }
  }
};

struct file {
  tarvo_test::scratch_dir d;
  int fd = -1;
  sys_file_stat_rec st{};
  explicit file(const std::string &bytes)
  {
    tarvo_test::write_file(d / "a.mpg", bytes);
    fd = open((d / "a.mpg").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(sys_file_fstat(fd, &st));
  }
  ~file() { close(fd); }
  file(const file &) = delete;

  uint32_t kind()
  {
    uint32_t k = 99;
    EXPECT_EQ(mpeg_container_probe(fd, &st, &k), 1);
    return k;
  }
};

struct read_result {
  int ok;
  tag_test::props p;
};

void read(file &f, read_result &r) { r.ok = mpegps_tag_read(f.fd, &f.st, 0, "video/mpeg", r.p.n(), r.p.v()); }

}  // namespace

TEST(Mpegps, PalStreamWhosePtsWrapsInsideTheFileHasItsRealDuration)
{
  ps_writer w;
  w.stream(WRAP - 5 * TICKS, 300, 0x3FFFF);  // 12 s, wrapping after 5
  file f(w.d);
  read_result r;
  read(f, r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.p.get("res@duration"), "0:00:11.960");
  // A variable-rate video: the rate comes from the file's size.
  EXPECT_EQ(r.p.get("res@bitrate"), std::to_string(f.st.size / 11960 * 1000));
  EXPECT_EQ(r.p.get("res@resolution"), "720x576");
  EXPECT_EQ(r.p.get("res@nrAudioChannels"), "2");
  EXPECT_EQ(r.p.get("res@protocolInfo"),
            "http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=11;DLNA.ORG_CI=0;"
            "DLNA.ORG_FLAGS=00200000000000000000000000000000");
}

TEST(Mpegps, FileRateAboveFourGigabitsIsClampedNotWrapped)
{
  ps_writer w;
  w.pack();
  w.pes(0xE0, 1000, sequence_header(720, 576, 3, 0x3FFFF));
  for (int i = 0; i < 100; i++) w.raw(0xBE, std::string(6000, '\xFF'));  // padding: 600 KB in 1 ms
  w.pack();
  w.pes(0xE0, 1090, "");
  file f(w.d);
  read_result r;
  read(f, r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.p.get("res@duration"), "0:00:00.001");
  EXPECT_EQ(r.p.get("res@bitrate"), std::to_string(UINT32_MAX / 8));
}

TEST(Mpegps, PacketsShorterThanAStartCodeAreNotWalked)
{
  ps_writer w;
  w.pack();
  w.raw(0xE0, std::string("\0\0", 2));
  w.raw(0xC0, std::string("\xFF\xFD\xB4", 3));
  w.raw(0xBD, std::string("\x80", 1));
  w.raw(0xE0, "");
  w.stream(TICKS, 50, 9000000 / 400);
  file f(w.d);
  read_result r;
  read(f, r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.p.get("res@resolution"), "720x576");
  EXPECT_EQ(r.p.get("res@duration"), "0:00:01.960");
}

TEST(Mpegps, VideoStartCodeInsideAudioPayloadGivesNoBogusLastPts)
{
  // Each audio payload holds what looks like a video packet with a PTS
  // an hour later.
  std::string fake = std::string("\0\0\1\xE0\0\x08\x80\x80\x05", 9) + pts5(0x20, TICKS * 3600);
  ps_writer w;
  w.stream(TICKS, 100, 0x3FFFF, kMp2Frame + fake);
  file f(w.d);
  read_result r;
  read(f, r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.p.get("res@duration"), "0:00:03.960");
}

TEST(Mpegps, LastVideoPtsIsSoughtInLongerTailsUpToSixMegabytes)
{
  ps_writer w;
  w.stream(TICKS, 1300, 0x3FFFF);  // 52 s, about 2.5 MB
  auto audio_only = [&](size_t bytes) {
    for (size_t end = w.d.size() + bytes; w.d.size() < end;) {
      w.pack();
      w.pes(0xC0, TICKS, kMp2Frame + std::string(6000, '\x33'));
    }
  };
  audio_only(3000000);  // the 2 MB tail holds no video, the 4 MB one does
  file found(w.d);
  read_result r;
  read(found, r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.p.get("res@duration"), "0:00:51.960");
  audio_only(3500000);  // now not even the 6 MB one
  file lost(w.d);
  read_result none;
  read(lost, none);
  EXPECT_EQ(none.ok, 0);
}

TEST(Mpegps, ProbeTellsTransportFromProgramStreams)
{
  std::string packet(188, '\x10');
  packet[0] = '\x47';
  std::string ts188(64, '\xFF'), ts192;  // stuffing before the grid costs nothing
  for (int i = 0; i < 600; i++) {
    ts188 += packet;
    ts192 += std::string("\x12\x34\x56\x78", 4) + packet;
  }
  EXPECT_EQ(file(ts188).kind(), MPEGTS_KIND_188);
  EXPECT_EQ(file(ts192).kind(), MPEGTS_KIND_192);

  ps_writer w;
  w.stream(TICKS, 30, 0x3FFFF);
  EXPECT_EQ(file(w.d).kind(), MPEGPS_KIND_MPEG2);
  std::string mpeg1 = std::string("\0\0\1\xBA\x21\0\1\0\1\x80\x1B\x91", 12) + std::string(3000, '\x20');
  EXPECT_EQ(file(mpeg1).kind(), MPEGPS_KIND_MPEG1);
  // A pack header of neither form, and text.
  EXPECT_EQ(file(std::string("\0\0\1\xBA\xC4", 5) + std::string(100, 'x')).kind(), 0u);
  EXPECT_EQ(file(std::string(5000, 'x')).kind(), 0u);
  file empty("");
  EXPECT_EQ(empty.kind(), 0u);
  read_result r;
  read(empty, r);
  EXPECT_EQ(r.ok, 0);
}

TEST(Mpegps, EveryAllocationFailingInTurn)
{
  ps_writer w;
  w.stream(TICKS, 50, 9000000 / 400);
  file f(w.d);
  alloc_fail::every_failure("mpegps_tag_read", [&] {
    tag_test::props p;
    if (!mpegps_tag_read(f.fd, &f.st, 0, "video/mpeg", p.n(), p.v())) return 0;
    const char *d = tag_property_value(p.n(), p.v(), "res@duration");
    return p.l.names.len == 5 && d && !std::strcmp(d, "0:00:01.960") ? 1 : -1;
  });
}

TEST(MpegPes, StreamIdsPtsAndHeaderForms)
{
  EXPECT_EQ(mpeg_is_pes_stream_id(0xBB), 0);  // a system header, not a PES packet
  EXPECT_EQ(mpeg_is_pes_stream_id(0xBC), 1);
  auto u = [](const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); };
  for (uint64_t pts : {uint64_t(0), uint64_t(1), WRAP - 1, uint64_t(123456789)})
    EXPECT_EQ(mpeg_pts_unpack(u(pts5(0x20, pts))), pts);

  uint64_t pts = 0;
  auto header = [&](const std::string &h, uint32_t len) { return mpeg_pes_header_pts(u(h), len, &pts); };
  std::string both = std::string("\x80\xC0\x0A", 3) + pts5(0x30, 900000) + pts5(0x10, 1);  // MPEG-2, PTS and DTS
  EXPECT_EQ(header(both, uint32_t(both.size())), 1);
  EXPECT_EQ(pts, 900000u);
  EXPECT_EQ(header(both, 7), 0);  // cut inside the PTS
  EXPECT_EQ(header(std::string("\x80\x40\x00", 3), 3), 1);  // flags 01: none
  EXPECT_EQ(pts, MPEG_PTS_NONE);
  // MPEG-1: stuffing, a buffer-size field, then the time stamp.
  std::string m1 = std::string("\xFF\xFF\x60\x00", 4) + pts5(0x20, 4242);
  EXPECT_EQ(header(m1, uint32_t(m1.size())), 1);
  EXPECT_EQ(pts, 4242u);
  EXPECT_EQ(header("\xFF\x0F", 2), 1);
  EXPECT_EQ(pts, MPEG_PTS_NONE);
  EXPECT_EQ(header("\xFF\xFF\xFF", 3), 0);
  EXPECT_EQ(mpeg_pes_header_pts(nullptr, 0, &pts), 0);
}
