// WMA, WMV and ASF files made by ffmpeg, some patched to the codecs ffmpeg
// cannot write, read through the dump program and held against what
// ffprobe and exiftool say of them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "asf_bytes.h"
#include "tag_tools.h"

using namespace tag_tools;

namespace {

const char kTags[] = "-metadata title='Night & Day' -metadata artist='Ann Öberg' -metadata album=Standards "
                     "-metadata genre=Jazz -metadata track=7 -metadata copyright='(c) Ann' ";

class AsfCompare : public compare_test {
 protected:
  std::string wmv(const std::string &name, const char *size, const char *audio = "-c:a wmav2 -b:a 128k")
  {
    std::string f = d / name;
    EXPECT_TRUE(ffmpeg(std::string("-f lavfi -i testsrc=size=") + size + ":rate=25 -f lavfi -i sine=duration=2 -t 2 " +
                           "-c:v wmv2 -b:v 1M " + audio,
                       f));
    return f;
  }
  std::string profile(const std::string &path, const char *mime)
  {
    std::string info = res_attribute(item(path, mime), "protocolInfo");
    size_t at = info.find("DLNA.ORG_PN=");
    return at == std::string::npos ? "" : info.substr(at + 12, info.find(';', at) - at - 12);
  }
};

// Overwrites the bytes at offset from the start of the first copy of
// anchor in the file.
void patch(const std::string &path, const std::string &anchor, size_t offset, const std::string &bytes)
{
  std::string all((std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf())), {});
  size_t at = all.find(anchor);
  ASSERT_NE(at, std::string::npos) << path;
  all.replace(at + offset, bytes.size(), bytes);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << all;
}

// The audio stream's WAVEFORMATEX format tag, past the stream type GUID and
// the fixed stream properties fields.
void patch_format_tag(const std::string &path, uint16_t tag)
{
  patch(path, asf_bytes::kAudioMedia, 16 + 38, asf_bytes::le16(tag));
}

}  // namespace

TEST_F(AsfCompare, WmaAgreesWithFfprobeAndExiftool)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "exiftool");
  for (const char *rate : {"128k", "256k"}) {
    SCOPED_TRACE(rate);
    std::string f = d / (std::string(rate) + ".wma");
    ASSERT_TRUE(ffmpeg(std::string("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=5.3 -ac 2 -c:a wmav2 ") +
                           "-b:a " + rate + " " + kTags,
                       f));
    std::string it = item(f, "audio/x-ms-wma");
    auto p = ffprobe_fields(f, "stream=sample_rate,channels:format=duration", "a:0");
    // Play duration less preroll, which is how ffprobe counts too.
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(p["duration"])), 1);
    EXPECT_EQ(res_attribute(it, "sampleFrequency"), p["sample_rate"]);
    EXPECT_EQ(res_attribute(it, "nrAudioChannels"), p["channels"]);
    EXPECT_EQ(profile(f, "audio/x-ms-wma"), std::string(rate) == "128k" ? "WMABASE" : "WMAFULL");
    auto e = exiftool_tags(f, {"Title", "Author", "AlbumTitle", "Genre", "TrackNumber", "Copyright"});
    EXPECT_EQ(element(it, "dc:title"), e["Title"]);
    EXPECT_EQ(element(it, "dc:creator"), e["Author"]);
    EXPECT_EQ(element(it, "upnp:artist"), e["Author"]);
    EXPECT_EQ(element(it, "upnp:album"), e["AlbumTitle"]);
    EXPECT_EQ(element(it, "upnp:genre"), e["Genre"]);
    EXPECT_EQ(element(it, "upnp:originalTrackNumber"), e["TrackNumber"]);
    EXPECT_EQ(element(it, "dc:rights"), e["Copyright"]);
  }
}

TEST_F(AsfCompare, WmvAndAudioOnlyAsfAgreeWithFfprobe)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string v = wmv("clip.wmv", "720x480");
  std::string it = item(v, "video/x-ms-wmv");
  auto p = ffprobe_fields(v, "stream=width,height:format=duration", "v:0");
  EXPECT_EQ(res_attribute(it, "resolution"), p["width"] + "x" + p["height"]);
  // ffprobe adds the last frame's time to the video's end.
  EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(p["duration"])), 100);
  EXPECT_EQ(res_attribute(it, "nrAudioChannels"), ffprobe_field(v, "stream=channels", "a:0"));
  EXPECT_EQ(element(it, "upnp:class"), "object.item.videoItem");
  EXPECT_EQ(profile(v, "video/x-ms-wmv"), "");

  std::string a = d / "sound.asf";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=3 -ac 2 -c:a wmav2 -b:a 128k -f asf", a));
  std::string ai = item(a, "video/x-ms-asf");
  EXPECT_EQ(element(ai, "upnp:class"), "object.item.audioItem.musicTrack");
  EXPECT_EQ(res_attribute(ai, "protocolInfo").rfind("http-get:*:audio/x-ms-asf:DLNA.ORG_PN=WMABASE;", 0), 0u);
  EXPECT_EQ(res_attribute(ai, "sampleFrequency"), ffprobe_field(a, "stream=sample_rate", "a:0"));
}

TEST_F(AsfCompare, ProfilesOfPatchedFiles)
{
  TAG_TOOLS_REQUIRE("ffmpeg");
  std::string pro = d / "pro.wma";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=2 -ac 2 -c:a wmav2 -b:a 128k", pro));
  patch_format_tag(pro, 0x162);
  EXPECT_EQ(profile(pro, "audio/x-ms-wma"), "WMAPRO");

  std::string base = wmv("base.wmv", "720x480"), medium_pro = wmv("pro.wmv", "720x480"),
              high = wmv("high.wmv", "1280x720");
  for (const std::string &f : {base, medium_pro, high}) patch(f, "WMV2", 0, "WMV3");
  patch_format_tag(medium_pro, 0x162);
  EXPECT_EQ(profile(base, "video/x-ms-wmv"), "WMVMED_BASE");
  EXPECT_EQ(profile(medium_pro, "video/x-ms-wmv"), "WMVMED_PRO");
  EXPECT_EQ(profile(high, "video/x-ms-wmv"), "WMVHIGH_FULL");

  // A broadcast file keeps its profile but has no duration and no bitrate.
  patch(base, asf_bytes::kFileProperties, 88, asf_bytes::le32(3));
  std::string it = item(base, "video/x-ms-wmv");
  EXPECT_EQ(res_attribute(it, "duration"), "");
  EXPECT_EQ(res_attribute(it, "bitrate"), "");
  EXPECT_EQ(profile(base, "video/x-ms-wmv"), "WMVMED_BASE");
}
