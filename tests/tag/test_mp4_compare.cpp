// MP4 and 3GPP files made by ffmpeg, read through the dump program and held
// against what ffprobe and exiftool say of them.
#include <gtest/gtest.h>

#include <string>

#include "tag_tools.h"

using namespace tag_tools;

namespace {

class Mp4Compare : public compare_test {
 protected:
  // Duration, audio rate and channels and, with video, the resolution
  // agree with ffprobe; the item has the MIME type and class expected.
  void streams_agree(const std::string &f, const char *offered, const std::string &mime, bool video)
  {
    SCOPED_TRACE(f + " as " + offered);
    std::string it = item(f, offered);
    auto p = ffprobe_fields(f, "stream=sample_rate,channels:format=duration", "a:0");
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(p["duration"])), 30);
    EXPECT_EQ(res_attribute(it, "sampleFrequency"), p["sample_rate"]);
    EXPECT_EQ(res_attribute(it, "nrAudioChannels"), p["channels"]);
    if (video) {
      auto v = ffprobe_fields(f, "stream=width,height", "v:0");
      EXPECT_EQ(res_attribute(it, "resolution"), v["width"] + "x" + v["height"]);
    }
    EXPECT_EQ(res_attribute(it, "protocolInfo").substr(0, 11 + mime.size() + 1), "http-get:*:" + mime + ":");
    EXPECT_EQ(element(it, "upnp:class"), video ? "object.item.videoItem" : "object.item.audioItem.musicTrack");
    EXPECT_NE(res_attribute(it, "bitrate"), "");
  }
};

const char kTags[] = "-metadata title='Night & Day' -metadata artist='Ann Öberg' -metadata album=Standards "
                     "-metadata genre=Jazz -metadata comment='from the tests' -metadata track=7/12 ";

}  // namespace

TEST_F(Mp4Compare, MoviesAgreeWithFfprobe)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string avc = d / "clip.mp4", h263 = d / "clip.3gp";
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=sample_rate=44100 -t 2.4 "
                     "-c:v libx264 -c:a aac -ac 2",
                     avc));
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=176x144:rate=15 -f lavfi -i sine=sample_rate=22050 -t 1.7 "
                     "-c:v h263 -c:a aac -ac 1",
                     h263));
  streams_agree(avc, "video/mp4", "video/mp4", true);
  streams_agree(h263, "video/3gpp", "video/3gpp", true);
}

TEST_F(Mp4Compare, AudioFilesBecomeAudioItems)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string m4a = d / "song.m4a", mono = d / "mono.m4a", g3 = d / "voice.3gp";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=sample_rate=48000:duration=3.1 -ac 2 -c:a aac -b:a 128k", m4a));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=sample_rate=32000:duration=1.3 -ac 1 -c:a aac", mono));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=sample_rate=16000:duration=2.2 -ac 1 -c:a aac", g3));
  streams_agree(m4a, "audio/mp4", "audio/mp4", false);
  streams_agree(m4a, "video/mp4", "audio/mp4", false);
  streams_agree(mono, "audio/mp4", "audio/mp4", false);
  streams_agree(g3, "video/3gpp", "audio/3gpp", false);
}

TEST_F(Mp4Compare, HevcMovieAgreesWithFfprobe)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  // Codecs the reader does not decode give the entries' own fields; for
  // AC-3 those hold the template count of 2 channels, so the sound is
  // stereo here.
  std::string f = d / "phone.mp4";
  if (!ffmpeg("-f lavfi -i testsrc=size=640x360:rate=30 -f lavfi -i sine=sample_rate=48000 -t 1.5 "
              "-c:v libx265 -tag:v hvc1 -x265-params log-level=none -c:a ac3 -ac 2",
              f))
    GTEST_SKIP() << "this ffmpeg has no HEVC encoder";
  streams_agree(f, "video/mp4", "video/mp4", true);
}

TEST_F(Mp4Compare, TagsAgreeWithExiftool)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "exiftool");
  std::string f = d / "tagged.m4a";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=sample_rate=44100:duration=1 -c:a aac " + std::string(kTags), f));
  std::string it = item(f, "audio/mp4");
  EXPECT_EQ(element(it, "dc:title"), exiftool_field(f, "Title"));
  EXPECT_EQ(element(it, "upnp:artist"), exiftool_field(f, "Artist"));
  EXPECT_EQ(element(it, "dc:creator"), "Ann Öberg");
  EXPECT_EQ(element(it, "upnp:album"), exiftool_field(f, "Album"));
  EXPECT_EQ(element(it, "upnp:genre"), exiftool_field(f, "Genre"));
  EXPECT_EQ(element(it, "dc:description"), exiftool_field(f, "Comment"));
  // exiftool shows "7 of 12".
  EXPECT_EQ(element(it, "upnp:originalTrackNumber") + " of 12", exiftool_field(f, "TrackNumber"));
}

namespace {

// The file with the size of its cover item, or of the data box inside it,
// made larger by grow bytes.
std::string cover_grown(const std::string &file, bool data, uint32_t grow)
{
  std::string b = tarvo_test::read_file(file);
  size_t at = b.find("covr", b.find("ilst"));
  if (at == std::string::npos || at < 4) return "";
  if (data) at += 8;
  auto *p = reinterpret_cast<unsigned char *>(&b[at - 4]);
  uint32_t size = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  size += grow;
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(size >> (24 - 8 * i));
  return b;
}

}  // namespace

// A cover item whose size reached past its list (and, with the movie at
// the end, past the file) made the file application/octet-stream, though
// its audio was intact: the picture is left out and the song listed.
TEST_F(Mp4Compare, CoverClaimingTooMuchLeavesTheSongListed)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "convert");
  std::string pic = d / "cover.png", at_end = d / "at_end.m4a", at_start = d / "at_start.m4a";
  ASSERT_TRUE(generate("convert -size 64x64 xc:red " + quote(pic), pic));
  std::string with_cover = "-f lavfi -i sine=duration=4 -i " + quote(pic) +
                           " -map 0 -map 1 -c:a aac -c:v copy -disposition:v attached_pic -metadata title=Covered ";
  ASSERT_TRUE(ffmpeg(with_cover, at_end));
  ASSERT_TRUE(ffmpeg(with_cover + "-movflags +faststart", at_start));
  int64_t ms = seconds_ms(ffprobe_field(at_end, "format=duration"));
  const struct {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"past the list and the file", cover_grown(at_end, false, 1000)},
      {"past the list, within the file", cover_grown(at_start, false, 1000)},
      {"far past the file", cover_grown(at_end, false, 0x7FFF0000)},
      {"its data box past the item", cover_grown(at_start, true, 1000)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.bytes.empty());
    std::string f = d / "patched.m4a";
    tarvo_test::write_file(f, c.bytes);
    std::string it = item(f, "audio/mp4");
    EXPECT_EQ(element(it, "upnp:class"), "object.item.audioItem.musicTrack");
    EXPECT_EQ(res_attribute(it, "protocolInfo").substr(0, 21), "http-get:*:audio/mp4:");
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(ms), 30);
    EXPECT_EQ(element(it, "dc:title"), "Covered");
  }
}
