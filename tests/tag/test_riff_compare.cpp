// WAV, AVI and Ogg files made by sox and ffmpeg, read through the dump
// program and held against what ffprobe and exiftool say of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "tag_tools.h"

using namespace tag_tools;

namespace {

class RiffCompare : public compare_test {
 protected:
  // The audio stream's field as ffprobe gives it.
  std::string audio(const std::string &path, const std::string &field)
  {
    return ffprobe_field(path, "stream=" + field, "a:0");
  }
};

}  // namespace

TEST_F(RiffCompare, WavAgreesWithFfprobe)
{
  TAG_TOOLS_REQUIRE("sox", "ffmpeg", "ffprobe");
  std::string w16 = d / "tone16.wav", w24 = d / "tone24.wav", w24x = d / "six24.wav";
  ASSERT_TRUE(generate("sox -n -r 44100 -c 2 -b 16 " + quote(w16) + " synth 1.2345 sine 440", w16));
  ASSERT_TRUE(generate("sox -n -r 48000 -c 2 -b 24 " + quote(w24) + " synth 2.7183 sine 440", w24));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=300:sample_rate=96000:duration=3.1416 -ac 6 -c:a pcm_s24le", w24x));
  for (const std::string &f : {w16, w24, w24x}) {
    SCOPED_TRACE(f);
    std::string it = item(f, "audio/wav");
    auto p = ffprobe_fields(f, "stream=sample_rate,channels,bits_per_sample,bit_rate:format=duration", "a:0");
    EXPECT_EQ(duration_ms(res_attribute(it, "duration")), seconds_ms(p["duration"]));
    EXPECT_EQ(res_attribute(it, "sampleFrequency"), p["sample_rate"]);
    EXPECT_EQ(res_attribute(it, "nrAudioChannels"), p["channels"]);
    EXPECT_EQ(res_attribute(it, "bitsPerSample"), p["bits_per_sample"]);
    EXPECT_EQ(std::stoll(res_attribute(it, "bitrate")) * 8, std::stoll(p["bit_rate"]));
  }
}

TEST_F(RiffCompare, DumpPrintsTheWavFormatRecord)
{
  TAG_TOOLS_REQUIRE("sox", "ffprobe");
  std::string w = d / "tone.wav";
  ASSERT_TRUE(generate("sox -n -r 22050 -c 1 -b 24 " + quote(w) + " synth 0.5 sine 440", w));
  result r = dump({"--wav-info", w});
  ASSERT_EQ(r.status, 0);
  uint64_t samples = std::stoull(audio(w, "duration_ts"));
  EXPECT_EQ(r.out, "format_tag=65534\nchannels=1\nbits_per_sample=24\nsample_rate=22050\nbytes_per_second=66150\n"
                   "data_size=" + std::to_string(samples * 3) + "\n");
  EXPECT_EQ(dump({"--wav-info", d / "missing.wav"}).status, 1);
}

TEST_F(RiffCompare, AviAgreesWithFfprobe)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe");
  std::string v = d / "clip.avi";
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=sample_rate=44100 -t 2.4 -ac 2 "
                     "-c:v mpeg4 -c:a pcm_s16le",
                     v));
  std::string it = item(v, "video/avi");
  auto p = ffprobe_fields(v, "stream=width,height:format=duration", "v:0");
  EXPECT_EQ(res_attribute(it, "resolution"), p["width"] + "x" + p["height"]);
  EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(seconds_ms(p["duration"])), 40);
  EXPECT_EQ(res_attribute(it, "nrAudioChannels"), audio(v, "channels"));
}

TEST_F(RiffCompare, OggAgreesWithFfprobeAndExiftool)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "exiftool");
  std::string o = d / "song.ogg";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=500:sample_rate=32000:duration=3.3 -ac 2 -c:a libvorbis -b:a 96k "
                     "-metadata title='Night & Day' -metadata artist='Ann Öberg' -metadata album=Standards "
                     "-metadata genre=Jazz -metadata track=7",
                     o));
  std::string it = item(o, "application/ogg");
  auto p = ffprobe_fields(o, "stream=sample_rate,channels:format=duration", "a:0");
  EXPECT_EQ(duration_ms(res_attribute(it, "duration")), seconds_ms(p["duration"]));
  EXPECT_EQ(res_attribute(it, "sampleFrequency"), p["sample_rate"]);
  EXPECT_EQ(res_attribute(it, "nrAudioChannels"), p["channels"]);
  EXPECT_EQ(std::stoll(res_attribute(it, "bitrate")) * 8, std::stoll(exiftool_field(o, "NominalBitrate", true)));
  EXPECT_EQ(element(it, "dc:title"), exiftool_field(o, "Title"));
  EXPECT_EQ(element(it, "upnp:artist"), exiftool_field(o, "Artist"));
  EXPECT_EQ(element(it, "dc:creator"), "Ann Öberg");
  EXPECT_EQ(element(it, "upnp:album"), exiftool_field(o, "Album"));
  EXPECT_EQ(element(it, "upnp:genre"), exiftool_field(o, "Genre"));
  EXPECT_EQ(element(it, "upnp:originalTrackNumber"), "7");
}

// ffmpeg writes ADPCM headers with a byte rate of 16000 whatever the blocks
// hold: timed by it, a 1 s stereo IMA file showed 2.8 s.  Without the fact
// chunk the time comes from the blocks' own rate.
TEST_F(RiffCompare, AdpcmWavTimedByItsSamples)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "python3");
  std::string ms = d / "ms.wav", ima = d / "ima.wav", bare = d / "ima_nofact.wav";
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -c:a adpcm_ms", ms));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 -ac 2 -c:a adpcm_ima_wav", ima));
  // The same file with its fact chunk cut out, the RIFF size set to match.
  ASSERT_TRUE(generate("python3 -c \"import struct,sys; b=open(sys.argv[1],'rb').read(); i=b.index(b'fact'); "
                       "b=b[:i]+b[i+12:]; open(sys.argv[2],'wb').write(b[:4]+struct.pack('<I',len(b)-8)+b[8:])\" " +
                           quote(ima) + " " + quote(bare),
                       bare));
  int64_t want_ima = seconds_ms(ffprobe_field(ima, "format=duration"));
  for (auto [f, want] : {std::pair{ms, seconds_ms(ffprobe_field(ms, "format=duration"))}, {ima, want_ima},
                         {bare, want_ima}}) {
    SCOPED_TRACE(f);
    std::string it = item(f, "audio/wav");
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(want), 100);
  }
}

// Files that a fixed 256 KiB read budget refused: a 1 MiB cover picture in
// the comments, and five chained streams (vorbisfile searches back from
// each stream's end).  ffprobe times a chained file by its first stream;
// the sum of the parts is the file's time.
TEST_F(RiffCompare, OggWithLargeCoverOrFiveStreamsIsRead)
{
  TAG_TOOLS_REQUIRE("ffmpeg", "ffprobe", "convert", "python3");
  std::string pic = d / "cover.png", meta = d / "meta.txt", cover = d / "cover.ogg", chain = d / "chain.ogg";
  ASSERT_TRUE(generate("convert -size 600x600 xc: +noise Random -depth 8 " + quote(pic), pic));
  // The picture as a METADATA_BLOCK_PICTURE comment, through ffmpeg's
  // metadata file (too long for a command line).
  ASSERT_TRUE(generate("python3 -c \"import base64,struct,sys; p=open(sys.argv[1],'rb').read(); "
                       "b=struct.pack('>II',3,9)+b'image/png'+struct.pack('>6I',0,600,600,24,0,len(p))+p; "
                       "open(sys.argv[2],'w').write(';FFMETADATA1\\ntitle=Covered\\nMETADATA_BLOCK_PICTURE='+"
                       "base64.b64encode(b).decode()+'\\n')\" " +
                           quote(pic) + " " + quote(meta),
                       meta));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=duration=2.5 -i " + quote(meta) + " -map 0 -map_metadata 1 -c:a libvorbis", cover));
  ASSERT_GT(std::filesystem::file_size(cover), 1024u * 1024);
  std::string parts;
  int64_t sum = 0;
  for (int i = 1; i <= 5; i++) {
    std::string part = d / ("part" + std::to_string(i) + ".ogg");
    ASSERT_TRUE(ffmpeg("-f lavfi -i sine=frequency=" + std::to_string(200 + 100 * i) + ":duration=" +
                           std::to_string(i) + ".5 -ac 2 -c:a libvorbis -b:a 128k -serial_offset " +
                           std::to_string(10 * i) + " -metadata title=Part" + std::to_string(i),
                       part));
    sum += seconds_ms(ffprobe_field(part, "format=duration"));
    parts += " " + quote(part);
  }
  ASSERT_TRUE(generate("cat" + parts + " > " + quote(chain), chain));
  for (auto [f, want, title] : {std::tuple{cover, seconds_ms(ffprobe_field(cover, "format=duration")), "Covered"},
                                {chain, sum, "Part1"}}) {
    SCOPED_TRACE(f);
    std::string it = item(f, "application/ogg");
    EXPECT_EQ(element(it, "upnp:class"), "object.item.audioItem.musicTrack");
    EXPECT_EQ(element(it, "dc:title"), title);
    EXPECT_NEAR(double(duration_ms(res_attribute(it, "duration"))), double(want), 100);
  }
}
