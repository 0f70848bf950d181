// Transport streams made by ffmpeg, read through the transport-stream
// reader and held against what ffprobe says of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tag_tools.h"
#include "ts_item.h"

using namespace tag_tools;

namespace {

const char kSd[] = "-f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 ";
const char kAvcMain[] = "-c:v libx264 -preset veryfast -profile:v main -level 3.0 -pix_fmt yuv420p -b:v 1M ";

struct made {
  tarvo_test::scratch_dir dir;
  std::string path;
  bool make(const std::string &args, const char *name)
  {
    path = dir / name;
    return ffmpeg(args, path);
  }
};

std::string profile_of(const std::string &item)
{
  std::string pi = res_attribute(item, "protocolInfo");
  size_t at = pi.find("DLNA.ORG_PN=");
  return at == std::string::npos ? "" : pi.substr(at + 12, pi.find(';', at) - at - 12);
}

// Duration within 1% (or one frame of frame_ms, the larger) and the
// resolution agree with ffprobe; the MIME type and profile are those
// expected.
void agrees(const std::string &path, bool packets192, const std::string &mime, const std::string &profile,
            double frame_ms = 0)
{
  SCOPED_TRACE(path);
  std::string it = ts_test::ts_item(path, packets192);
  std::printf("%s\n", it.c_str());
  auto p = ffprobe_fields(path, "format=duration");
  double want = double(seconds_ms(p["duration"]));
  EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), want, std::max(want / 100, frame_ms));
  auto v = ffprobe_fields(path, "stream=width,height", "v:0");
  EXPECT_EQ(res_attribute(it, "resolution"), v["width"] + "x" + v["height"]);
  EXPECT_EQ(res_attribute(it, "protocolInfo").substr(0, 11 + mime.size() + 1), "http-get:*:" + mime + ":");
  EXPECT_EQ(profile_of(it), profile);
  EXPECT_NE(res_attribute(it, "bitrate"), "");
}

std::string zeroed_copy(const std::string &path, const tarvo_test::scratch_dir &dir)
{
  std::string bytes = tarvo_test::read_file(path);
  for (size_t at = 0; at + 4 <= bytes.size(); at += 192) bytes.replace(at, 4, 4, '\0');
  std::string copy = dir / "zeroed.m2ts";
  tarvo_test::write_file(copy, bytes);
  return copy;
}

}  // namespace

TEST(MpegTsCompare, FfmpegTransportStreams)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  made mpeg2, avc;
  ASSERT_TRUE(mpeg2.make(std::string(kSd) + "-t 3 -c:v mpeg2video -b:v 3M -c:a ac3 -ac 2 -f mpegts", "mpeg2_ac3.ts"));
  agrees(mpeg2.path, false, "video/mpeg", "");
  ASSERT_TRUE(avc.make(std::string(kSd) + "-t 10 " + kAvcMain + "-c:a aac -ac 2 -f mpegts", "avc_aac.ts"));
  agrees(avc.path, false, "video/mpeg", "AVC_TS_MP_SD_AAC_MULT5_ISO");
}

TEST(MpegTsCompare, ProfilesOfFfmpegStreams)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  struct profile_case {
    const char *name, *args, *profile;
  } cases[] = {
      {"ll_aac.ts",
       "-f lavfi -i testsrc=size=352x288:rate=30 -f lavfi -i sine=sample_rate=32000 -t 6 -c:v mpeg2video "
       "-profile:v 4 -level:v 10 -b:v 2M -maxrate 3M -bufsize 1M -aspect 4:3 -c:a aac -ac 1",
       "MPEG_TS_MP_LL_AAC_ISO"},
      {"hd_ac3.ts",
       "-f lavfi -i testsrc=size=1920x1080:rate=30 -f lavfi -i sine=sample_rate=48000 -t 2 -c:v libx264 "
       "-preset veryfast -profile:v main -level 4.0 -pix_fmt yuv420p -b:v 6M -c:a ac3 -ac 2",
       "AVC_TS_MP_HD_AC3_ISO"},
      {"cif.ts",
       "-f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 -t 10 -c:v libx264 "
       "-preset veryfast -profile:v baseline -level 2.0 -pix_fmt yuv420p -b:v 500k -c:a aac -ac 2",
       "AVC_TS_BL_CIF30_AAC_MULT5_ISO"},
      {"mp3.ts", "-f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=48000 -t 10 "
                 "-c:v libx264 -preset veryfast -profile:v main -level 3.0 -pix_fmt yuv420p "
                     "-b:v 1M -c:a libmp3lame -joint_stereo 0 -b:a 128k -ac 2",
       "AVC_TS_MP_SD_MPEG1_L3_ISO"},
  };
  for (const profile_case &c : cases) {
    made m;
    ASSERT_TRUE(m.make(std::string(c.args) + " -f mpegts", c.name)) << c.name;
    agrees(m.path, false, "video/mpeg", c.profile);
  }
  // High profile: no size and no profile, but duration and bit rate.
  made high;
  ASSERT_TRUE(high.make(std::string(kSd) + "-t 10 -c:v libx264 -preset veryfast -profile:v high -pix_fmt yuv420p "
                        "-c:a aac -ac 2 -f mpegts", "high.ts"));
  std::string it = ts_test::ts_item(high.path, false);
  std::printf("%s\n", it.c_str());
  EXPECT_EQ(res_attribute(it, "resolution"), "");
  EXPECT_EQ(profile_of(it), "");
  EXPECT_NE(res_attribute(it, "duration"), "");
  EXPECT_NE(res_attribute(it, "bitrate"), "");
}

TEST(MpegTsCompare, M2tsOfFiftySecondsWithItsStampsAndWithout)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  made m2ts;
  // At a constant mux rate ffmpeg's m2ts stamps are a 30-bit 27 MHz
  // counter: it wraps at 39.8 s.
  ASSERT_TRUE(m2ts.make(std::string(kSd) + "-t 50 " + kAvcMain +
                            "-c:a ac3 -ac 2 -b:a 192k -f mpegts -muxrate 2000000 -mpegts_m2ts_mode 1",
                        "long.m2ts"));
  agrees(m2ts.path, true, "video/vnd.dlna.mpeg-tts", "AVC_TS_MP_SD_AC3_T");
  agrees(zeroed_copy(m2ts.path, m2ts.dir), true, "video/vnd.dlna.mpeg-tts", "AVC_TS_MP_SD_AC3");
}

TEST(MpegTsCompare, ShortM2tsFiles)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  const std::string tiny = "-f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine -t 0.32 -c:v libx264 -profile:v main -pix_fmt yuv420p -c:a aac ";
  // At a constant mux rate the stamps are a clock: within a frame.
  made cbr;
  ASSERT_TRUE(cbr.make(tiny + "-f mpegts -muxrate 2000000 -mpegts_m2ts_mode 1", "cbr.m2ts"));
  agrees(cbr.path, true, "video/vnd.dlna.mpeg-tts", "", 40);
  // At a variable rate ffmpeg writes its byte count in the stamps: the PCR
  // gives the time, as it does without stamps.  The whole audio follows
  // the video here, past the last PCR, so the extrapolation overshoots.
  made vbr;
  ASSERT_TRUE(vbr.make(tiny + "-f mpegts -mpegts_m2ts_mode 1", "vbr.m2ts"));
  std::string stamped = res_attribute(ts_test::ts_item(vbr.path, true), "duration");
  EXPECT_EQ(stamped, res_attribute(ts_test::ts_item(zeroed_copy(vbr.path, vbr.dir), true), "duration"));
  EXPECT_GT(duration_ms(stamped), 300u);
  EXPECT_LT(duration_ms(stamped), 1000u);
}
