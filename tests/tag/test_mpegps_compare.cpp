// Program streams that ffmpeg writes for VCD and DVD, read through the dump
// program: the DLNA profile of each, and duration, resolution and audio
// channels against ffprobe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tag_tools.h"

using namespace tag_tools;

namespace {

class MpegpsCompare : public compare_test {
 protected:
  // The file ffmpeg writes from testsrc and a stereo tone, 5 s.
  std::string make(const std::string &name, const std::string &size, const std::string &rate, const std::string &args)
  {
    std::string path = d / name;
    bool ok = ffmpeg("-f lavfi -i testsrc=size=" + size + ":rate=" + rate +
                         " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 5 -ac 2 " + args,
                     path);
    EXPECT_TRUE(ok) << args;
    return ok ? path : "";
  }

  // The item's profile, and its duration, resolution and channels held
  // against ffprobe's: the duration within one frame of the video stream's.
  std::string check(const std::string &path, double fps, const std::string &channels)
  {
    std::string it = item(path, "video/mpeg");
    int64_t ours = duration_ms(res_attribute(it, "duration"));
    int64_t theirs = seconds_ms(ffprobe_field(path, "stream=duration", "v:0"));
    EXPECT_GT(theirs, 0) << path;
    EXPECT_LE(std::llabs(ours - theirs), int64_t(1000 / fps) + 1) << path << ": " << ours << " against " << theirs;
    auto v = ffprobe_fields(path, "stream=width,height", "v:0");
    EXPECT_EQ(res_attribute(it, "resolution"), v["width"] + "x" + v["height"]) << path;
    EXPECT_EQ(res_attribute(it, "nrAudioChannels"), channels) << path;
    EXPECT_FALSE(res_attribute(it, "bitrate").empty()) << path;
    std::string info = res_attribute(it, "protocolInfo");
    EXPECT_NE(info.find("DLNA.ORG_OP=11;"), std::string::npos) << info;
    size_t pn = info.find("DLNA.ORG_PN=");
    return pn == std::string::npos ? "" : info.substr(pn + 12, info.find(';', pn) - pn - 12);
  }
};

// Sets fixed_flag in every system header and the video rate of every
// sequence header to 1,152,000 bit/s, as a VCD authoring tool writes them.
void vcd_patch(const std::string &path)
{
  std::string b = tarvo_test::read_file(path);
  for (size_t at = b.find(std::string("\0\0\1\xBB", 4)); at != std::string::npos && at + 10 < b.size();
       at = b.find(std::string("\0\0\1\xBB", 4), at + 4))
    b[at + 9] = char(b[at + 9] | 0x02);
  const unsigned value = 1152000 / 400;
  for (size_t at = b.find(std::string("\0\0\1\xB3", 4)); at != std::string::npos && at + 11 < b.size();
       at = b.find(std::string("\0\0\1\xB3", 4), at + 4)) {
    b[at + 8] = char(value >> 10);
    b[at + 9] = char(value >> 2);
    b[at + 10] = char((b[at + 10] & 0x3F) | ((value & 3) << 6));
  }
  tarvo_test::write_file(path, b);
}

}  // namespace

TEST_F(MpegpsCompare, VcdIsMpeg1OnceItsHeadersAreThoseOfAVcd)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string vcd = make("vcd.mpg", "352x288", "25", "-target pal-vcd -ar 44100");
  ASSERT_FALSE(vcd.empty());
  // As ffmpeg writes it: variable rate in the system header, 1,150,000 bit/s.
  EXPECT_EQ(check(vcd, 25, "2"), "");
  vcd_patch(vcd);
  EXPECT_EQ(check(vcd, 25, "2"), "MPEG1");
}

TEST_F(MpegpsCompare, DvdProfilesByFrameRateAndAc3Rate)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string ntsc = make("ntsc.mpg", "720x480", "30000/1001", "-target ntsc-dvd -b:a 448k");
  std::string xac3 = make("xac3.mpg", "720x480", "30000/1001", "-target ntsc-dvd -b:a 640k");
  std::string pal = make("pal.mpg", "720x576", "25", "-target pal-dvd -c:a mp2 -b:a 224k");
  ASSERT_FALSE(ntsc.empty() || xac3.empty() || pal.empty());
  // AC-3 carries no channel count here; MPEG audio does.
  EXPECT_EQ(check(ntsc, 29.97, ""), "MPEG_PS_NTSC");
  EXPECT_EQ(check(xac3, 29.97, ""), "MPEG_PS_NTSC_XAC3");
  EXPECT_EQ(check(pal, 25, "2"), "MPEG_PS_PAL");
}
