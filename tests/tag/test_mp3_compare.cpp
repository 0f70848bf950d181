// MPEG audio files made by ffmpeg and lame, read through the dump program
// and held against what ffprobe and exiftool say of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mp3_impl.h"
#include "tag_test.h"
#include "tag_tools.h"

using namespace tag_tools;

namespace {

class Mp3Compare : public ::testing::Test {
 protected:
  tarvo_test::scratch_dir d;

  std::string item(const std::string &path)
  {
    result r = dump({path, "audio/mpeg"});
    EXPECT_EQ(r.status, 0) << path;
    return r.out;
  }
};

const char kSine[] = "-f lavfi -i sine=frequency=440:duration=7.3 ";

// Tags as exiftool gives them, in one run: "-" for a tag it did not find.
std::map<std::string, std::string> exiftool_tags(const std::string &path)
{
  return tag_tools::exiftool_tags(path, {"Title", "Artist", "Album", "Genre", "Track", "Comment"});
}

// The play time as the sum of ffprobe's packet durations, in ms: its
// format duration of a file without a VBR header is a guess from the first
// frames.
int64_t packets_ms(const std::string &path)
{
  result r = run("ffprobe -v error -select_streams a:0 -show_entries packet=duration_time -of csv=p=0 " + quote(path) +
                 " | awk '{s += $1} END {printf \"%.6f\", s}'");
  return r.status == 0 ? seconds_ms(r.out) : -1;
}

// The ID3v2 tag at the start of a file, header and body.
std::string id3v2_tag(const std::string &path)
{
  std::string b = tarvo_test::read_file(path);
  if (b.size() < 10 || b.compare(0, 3, "ID3") != 0) return "";
  size_t n = size_t(b[6] & 0x7F) << 21 | size_t(b[7] & 0x7F) << 14 | size_t(b[8] & 0x7F) << 7 | size_t(b[9] & 0x7F);
  return b.substr(0, std::min(b.size(), 10 + n));
}

}  // namespace

TEST_F(Mp3Compare, StreamsAgreeWithFfprobe)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  struct {
    const char *name, *args;
    bool vbr, profile;
  } cases[] = {
      {"cbr.mp3", "-ac 2 -ar 44100 -c:a libmp3lame -b:a 128k", false, true},
      {"vbr.mp3", "-ac 2 -ar 48000 -c:a libmp3lame -q:a 3", true, true},
      {"mono.mp3", "-ac 1 -ar 32000 -c:a libmp3lame -b:a 64k", false, true},
      {"mpeg2.mp3", "-ac 2 -ar 22050 -c:a libmp3lame -b:a 64k", false, false},
      {"low.mp2", "-ac 2 -ar 24000 -c:a mp2 -b:a 96k", false, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string f = d / c.name;
    ASSERT_TRUE(ffmpeg(std::string(kSine) + c.args, f));
    std::string it = item(f);
    auto p = ffprobe_fields(f, "stream=sample_rate,channels,bit_rate:format=duration", "a:0");
    // One frame is 24 to 36 ms; encoders differ on whether a VBR header
    // frame counts.
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(p["duration"])), 30);
    EXPECT_EQ(res_attribute(it, "sampleFrequency"), p["sample_rate"]);
    EXPECT_EQ(res_attribute(it, "nrAudioChannels"), p["channels"]);
    int64_t bitrate = std::atoll(res_attribute(it, "bitrate").c_str()) * 8;
    // The average is rounded to a multiple of 1000 bit/s.
    EXPECT_NEAR(double(bitrate), std::atof(p["bit_rate"].c_str()), c.vbr ? 1000 : 0);
    EXPECT_EQ(res_attribute(it, "protocolInfo").find("DLNA.ORG_PN=MP3;") != std::string::npos, c.profile);
  }
}

TEST_F(Mp3Compare, TagsAgreeWithExiftool)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "lame", "exiftool");
  std::string wav = d / "tone.wav", v24 = d / "v24.mp3", v23 = d / "v23.mp3", utf16 = d / "utf16.mp3";
  ASSERT_TRUE(ffmpeg(std::string(kSine) + "-ac 2", wav));
  // ffmpeg writes ID3v2.4 with syncsafe sizes; the long title makes a
  // frame size that reads differently as a plain number.
  std::string long_title = "Ünïcode title " + std::string(150, 'x');
  ASSERT_TRUE(ffmpeg("-i " + quote(wav) + " -c:a libmp3lame -b:a 128k -metadata title=" + quote(long_title) +
                         " -metadata artist=Ärtist -metadata album=Album -metadata genre=Jazz -metadata track=3/10",
                     v24));
  // lame writes ID3v2.3 and ID3v1, its comment in UTF-16 behind an empty
  // description.
  std::string lame = "LC_ALL=C.UTF-8 lame --quiet -b 128 --tt 'Lame title' --ta 'Lame artist' --tl 'Lame album' "
                     "--tc 'Lame comment' --tn 7/12 --tg 17 ";
  ASSERT_TRUE(generate(lame + "--id3v2-utf16 --add-id3v2 " + quote(wav) + " " + quote(v23), v23));
  for (const std::string &f : {v24, v23}) {
    SCOPED_TRACE(f);
    std::string it = item(f);
    auto e = exiftool_tags(f);
    EXPECT_EQ(element(it, "dc:title"), e["Title"]);
    EXPECT_EQ(element(it, "dc:creator"), e["Artist"]);
    EXPECT_EQ(element(it, "upnp:artist"), e["Artist"]);
    EXPECT_EQ(element(it, "upnp:album"), e["Album"]);
    EXPECT_EQ(element(it, "upnp:genre"), e["Genre"]);
    EXPECT_EQ(element(it, "upnp:originalTrackNumber"), std::to_string(std::atoi(e["Track"].c_str())));
    EXPECT_EQ(element(it, "dc:description"), e["Comment"] == "-" ? "" : e["Comment"]);
  }
  // Beyond the Basic Multilingual Plane, in a UTF-16 surrogate pair.
  ASSERT_TRUE(generate("LC_ALL=C.UTF-8 lame --quiet --id3v2-only --id3v2-utf16 --tt 'Song \xf0\x9f\x8e\xb5' " +
                           quote(wav) + " " + quote(utf16),
                       utf16));
  EXPECT_EQ(element(item(utf16), "dc:title"), "Song \xf0\x9f\x8e\xb5");
}

// Without a VBR header the frames were counted through the first MiB and
// the rest extrapolated (5 min at 64k joined to 5 min at 320k showed 30 min),
// and frames whose joint-stereo mode extension changed were taken for
// junk before the stream.
TEST_F(Mp3Compare, RatesThatChangeAreCountedFrameByFrame)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "sox", "lame");
  std::string low = d / "low.mp3", high = d / "high.mp3", joined = d / "joined.mp3", wav = d / "quiet_loud.wav",
              v2 = d / "v2.mp3";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=300:duration=10 -ac 2 -c:a libmp3lame -b:a 64k -write_xing 0", low));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=500:duration=30 -ac 2 -c:a libmp3lame -b:a 320k -write_xing 0", high));
  ASSERT_TRUE(generate("cat " + quote(low) + " " + quote(high) + " > " + quote(joined), joined));
  // A quiet intro, then noise; -t leaves out the Xing frame.
  ASSERT_TRUE(generate("sox -n -r 44100 -c 2 -b 16 " + quote(d / "q.wav") + " synth 5 sine 440 vol 0.001 &&"
                       " sox -n -r 44100 -c 2 -b 16 " + quote(d / "l.wav") + " synth 20 whitenoise vol 0.5 &&"
                       " sox " + quote(d / "q.wav") + " " + quote(d / "l.wav") + " " + quote(wav),
                       wav));
  ASSERT_TRUE(generate("lame --quiet -V 2 -t " + quote(wav) + " " + quote(v2), v2));
  // 44.1 kHz joined to 48 kHz: each part at its own rate.
  std::string at48 = d / "at48.mp3", rates = d / "rates.mp3";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=500:duration=20 -ar 48000 -ac 2 -c:a libmp3lame -b:a 64k -write_xing 0", at48));
  ASSERT_TRUE(generate("cat " + quote(low) + " " + quote(at48) + " > " + quote(rates), rates));
  for (const std::string &f : {joined, v2, rates}) {
    SCOPED_TRACE(f);
    EXPECT_NEAR(double(duration_ms(res_attribute(item(f), "duration"))), double(packets_ms(f)), 100);
  }
}

// Three constant-rate recordings joined without a VBR header, the middle
// one at another rate: the start, middle and end of the file agreed on
// 128k, and 18 minutes were shown as 21.
TEST_F(Mp3Compare, JoinedConstantRatePartsAreTimedWhole)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "lame");
  std::string joined = d / "joined.mp3", parts;
  struct {
    int minutes, kbits;
  } cases[] = {{4, 128}, {2, 320}, {12, 128}};
  for (const auto &c : cases) {
    std::string part = d / (std::to_string(c.minutes) + ".mp3");
    ASSERT_TRUE(generate("ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=" +
                             std::to_string(c.minutes * 60) + " -ac 2 -ar 44100 -f wav - | lame --quiet -t -f -b " +
                             std::to_string(c.kbits) + " - " + quote(part),
                         part));
    parts += " " + quote(part);
  }
  ASSERT_TRUE(generate("cat" + parts + " > " + quote(joined), joined));
  // One frame is 26 ms.
  EXPECT_NEAR(double(duration_ms(res_attribute(item(joined), "duration"))), double(packets_ms(joined)), 30);
}

namespace {

// The read calls of this thread's tag reads and the 4 KiB pages they touch.
struct read_count : mp3::read_observer {
  uint64_t calls = 0;
  std::set<uint64_t> pages;
  read_count() { mp3::window_observer = this; }
  ~read_count() { mp3::window_observer = nullptr; }
  void on_read(uint64_t pos, uint32_t bytes) override
  {
    calls++;
    for (uint64_t p = pos / 4096; bytes && p <= (pos + bytes - 1) / 4096; p++) pages.insert(p);
  }
};

}  // namespace

// The first scan probed 1,024 points of each constant-rate file without a
// VBR header: 1,061 read calls touching 92 % of a five-minute file's pages,
// on a disk or share a seek or a round trip each.  LAME's Info header, which
// is not taken for a count, and an hour cost the same few dozen reads, and
// the kernel reads no more of the file than they touch.
TEST_F(Mp3Compare, ConstantRateFilesAreReadInAFewDozenCalls)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "lame");
  std::string wav = d / "five.wav", info = d / "info.mp3", plain = d / "plain.mp3", part = d / "part.mp3",
              hour = d / "hour.mp3";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:duration=300 -ac 2 -ar 44100", wav));
  ASSERT_TRUE(generate("lame --quiet -b 128 --tt Five " + quote(wav) + " " + quote(info), info));
  ASSERT_TRUE(ffmpeg("-i " + quote(wav) + " -c:a libmp3lame -b:a 128k -write_xing 0 -metadata title=Five", plain));
  // Twelve recordings of five minutes joined, without tags between them.
  ASSERT_TRUE(generate("lame --quiet -t -b 128 " + quote(wav) + " " + quote(part), part));
  ASSERT_TRUE(generate("for i in 1 2 3 4 5 6 7 8 9 10 11 12; do cat " + quote(part) + "; done > " + quote(hour), hour));
  for (const std::string &f : {info, plain, hour}) {
    SCOPED_TRACE(f);
    bool dropped = tarvo_test::page_cache_drop(f);
    read_count reads;
    std::string it = tag_test::item(f, "audio/mpeg");
    EXPECT_LE(reads.calls, 64u);
    EXPECT_LE(reads.pages.size(), 80u);
    // Readahead grown by the first reads fetched whole files that few
    // calls had touched.  Where the file system cannot drop pages, the
    // calls alone are counted.
    if (dropped) {
      EXPECT_LE(tarvo_test::page_cache_count(f), 80u);
    }
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(packets_ms(f)), 100);
  }
}

// Each ID3v2 tag is passed by its size: a second one holding a 300 KiB
// picture ran the search for the first frame out, and the file was listed
// as application/octet-stream.
TEST_F(Mp3Compare, EveryLeadingId3v2TagIsPassed)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "convert");
  std::string pic = d / "cover.png", first = d / "first.mp3", cover = d / "cover.mp3", base = d / "base.mp3",
              three = d / "three.mp3";
  ASSERT_TRUE(generate("convert -size 320x320 xc: +noise Random -depth 8 " + quote(pic), pic));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=0.1 -c:a libmp3lame -id3v2_version 3 -metadata title=First", first));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=0.1 -i " + quote(pic) +
                         " -map 0 -map 1 -c:a libmp3lame -c:v copy -id3v2_version 3",
                     cover));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=2 -c:a libmp3lame -b:a 128k -metadata title=Base", base));
  std::string picture_tag = id3v2_tag(cover);
  ASSERT_GT(picture_tag.size(), 300u * 1024);
  tarvo_test::write_file(three, id3v2_tag(first) + picture_tag + tarvo_test::read_file(base));
  std::string it = item(three);
  EXPECT_NE(res_attribute(it, "protocolInfo").find(":audio/mpeg:"), std::string::npos);
  EXPECT_EQ(element(it, "upnp:class"), "object.item.audioItem.musicTrack");
  EXPECT_EQ(element(it, "dc:title"), "First");
  EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(ffprobe_field(base, "format=duration"))),
              30);
}
