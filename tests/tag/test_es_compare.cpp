// The elementary-stream header parsers on streams that ffmpeg writes, fed
// in uneven pieces as the stream readers deliver PES payload: each gives
// the values the stream was made with.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "es_bytes.h"
#include "tag_tools.h"
#include "tarvo_test.h"

using namespace es_test;

namespace {

const std::vector<uint32_t> kPieces = {184, 1, 1000, 7, 170};

// The stream ffmpeg writes from the arguments, into a folder of the
// test's own (not the working folder, which may be a build tree the user
// can only read); empty when it could not.
bytes generate(const std::string &args, const std::string &name)
{
  static const tarvo_test::scratch_dir dir;
  const std::string path = dir / name;
  if (!tag_tools::ffmpeg(args, path)) return {};
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string video(const std::string &size, const std::string &codec)
{
  return "-f lavfi -i testsrc=size=" + size + ":rate=25 -frames:v 3 -pix_fmt yuv420p " + codec;
}

std::string audio(uint32_t rate, const std::string &codec)
{
  return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + " -t 1 -ac 2 " + codec;
}

}  // namespace

TEST(EsCompare, VideoStreams)
{
  TAG_TOOLS_REQUIRE("ffmpeg");
  bytes m1 = generate(video("320x240", "-c:v mpeg1video -f mpeg1video"), "a.m1v");
  bytes m2 = generate(video("720x576", "-c:v mpeg2video -f mpeg2video"), "a.m2v");
  bytes m4 = generate(video("352x288", "-c:v mpeg4 -f m4v"), "a.m4v");
  ASSERT_FALSE(m1.empty() || m2.empty() || m4.empty());

  es_video_info v = record_of<es_video_info>(ES_TYPE_MPEG1_VIDEO);
  EXPECT_EQ(feed(&v, ES_TYPE_MPEG1_VIDEO, true, m1, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(v.mpeg1_sequence.horizontal_size, 320);
  EXPECT_EQ(v.mpeg1_sequence.vertical_size, 240);
  EXPECT_EQ(v.mpeg1_sequence.frame_rate_code, 3);

  v = record_of<es_video_info>(ES_TYPE_MPEG2_VIDEO);
  EXPECT_EQ(feed(&v, ES_TYPE_MPEG2_VIDEO, true, m2, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(v.mpeg2_sequence.horizontal_size, 720);
  EXPECT_EQ(v.mpeg2_sequence.vertical_size, 576);
  EXPECT_EQ(v.mpeg2_extension.chroma_format, 1);

  v = record_of<es_video_info>(ES_TYPE_MPEG4_VISUAL);
  EXPECT_EQ(feed(&v, ES_TYPE_MPEG4_VISUAL, true, m4, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_NE(v.vos.start_code, 0u);
  EXPECT_EQ(v.vol.video_object_layer_width, 352);
  EXPECT_EQ(v.vol.video_object_layer_height, 288);
}

TEST(EsCompare, H264MainAndBaselineGiveDisplaySizesHighIsNotHandled)
{
  TAG_TOOLS_REQUIRE("ffmpeg");
  struct {
    std::string profile, size;
    int result;
    uint32_t width, height;
  } cases[] = {
      {"main", "640x360", ES_RESULT_COMPLETE, 640, 360},
      {"baseline", "1920x1080", ES_RESULT_COMPLETE, 1920, 1080},
      {"main", "720x576", ES_RESULT_COMPLETE, 720, 576},
      {"high", "1280x720", ES_RESULT_UNSUPPORTED, 0, 0},
  };
  for (auto &c : cases) {
    bytes s = generate(video(c.size, "-c:v libx264 -preset superfast -profile:v " + c.profile + " -f h264"), "a.264");
    if (s.empty()) GTEST_SKIP() << "ffmpeg cannot encode H.264 here";
    es_video_info v = record_of<es_video_info>(ES_TYPE_H264);
    EXPECT_EQ(feed(&v, ES_TYPE_H264, true, s, kPieces).result, c.result) << c.profile << " " << c.size;
    if (c.result != ES_RESULT_COMPLETE) continue;
    uint32_t w = 0, h = 0;
    avc_frame_size(&v.sps, &w, &h);
    EXPECT_EQ(w, c.width) << c.size;
    EXPECT_EQ(h, c.height) << c.size;
    EXPECT_EQ(v.sps.time_scale, 50u) << c.size;
  }
}

TEST(EsCompare, AudioStreams)
{
  TAG_TOOLS_REQUIRE("ffmpeg");
  bytes mp2 = generate(audio(48000, "-c:a mp2 -b:a 192k -f mp2"), "a.mp2");
  bytes aac = generate(audio(44100, "-c:a aac -b:a 128k -f adts"), "a.aac");
  bytes ac3 = generate(audio(48000, "-c:a ac3 -b:a 192k -f ac3"), "a.ac3");
  ASSERT_FALSE(mp2.empty() || aac.empty() || ac3.empty());

  es_audio_info a = record_of<es_audio_info>(ES_TYPE_MPEG1_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG1_AUDIO, false, mp2, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.mpeg1.layer, 2);
  EXPECT_EQ(mpeg_audio_bitrate(a.mpeg1.id, a.mpeg1.layer, a.mpeg1.bitrate_index), 192u);
  EXPECT_EQ(mpeg_audio_sample_rate(a.mpeg1.id, a.mpeg1.sampling_frequency), 48000u);

  // A plain stereo stream: the walk over the audio data of the fifth frame
  // (the one the lock settles on) ends at the frame's last sample, so the
  // multichannel fields are zero padding, or the bits of the next frame's
  // header when the samples fill the frame exactly.
  a = record_of<es_audio_info>(ES_TYPE_MPEG2_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG2_AUDIO, false, mp2, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.mc_read, 1u);
  // The header read as the multichannel fields: the flag (set) and the 8
  // bits it announces, then center from bit 9.
  uint32_t x = uint32_t(mp2[0]) << 16 | uint32_t(mp2[1]) << 8 | mp2[2];
  auto at = [x](int bit, int n) { return (x >> (24 - bit - n)) & ((1u << n) - 1); };
  bool padding = (a.mc.center | a.mc.surround | a.mc.lfe | a.mc.dematrix_procedure | a.mc.no_of_multi_lingual_ch) == 0;
  bool next_header = a.mc.center == at(9, 2) && a.mc.surround == at(11, 2) && a.mc.lfe == at(13, 1) &&
                     a.mc.dematrix_procedure == at(15, 2) && a.mc.no_of_multi_lingual_ch == at(17, 3);
  EXPECT_TRUE(padding || next_header);

  // ffmpeg writes ADTS ID 0, which stream type 0x0F takes.
  for (uint32_t type : {ES_TYPE_AAC_ADTS, ES_TYPE_AAC_MPEG4}) {
    a = record_of<es_audio_info>(uint16_t(type));
    EXPECT_EQ(feed(&a, type, false, aac, kPieces).result, ES_RESULT_COMPLETE) << type;
    EXPECT_EQ(a.adts.id, 0);
    EXPECT_EQ(a.adts.profile, 1);
    EXPECT_EQ(a.adts.sampling_frequency_index, 4);
    EXPECT_EQ(a.adts.channel_configuration, 2);
    EXPECT_EQ(a.adts_stats.frames, 10);
    EXPECT_EQ(a.adts_stats.sbr, 0);
  }

  a = record_of<es_audio_info>(ES_TYPE_AC3);
  EXPECT_EQ(feed(&a, ES_TYPE_AC3, false, ac3, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.ac3_sync.fscod, 0);
  EXPECT_EQ(a.ac3.acmod, 2);
  EXPECT_EQ(a.ac3.lfeon, 0);
}

TEST(EsCompare, Mp3OfferedAsMpeg2AudioIsNotHandled)
{
  TAG_TOOLS_REQUIRE("ffmpeg");
  bytes mp3 = generate(audio(44100, "-c:a libmp3lame -b:a 128k -f mp3"), "a.mp3");
  if (mp3.empty()) GTEST_SKIP() << "ffmpeg cannot encode MP3 here";
  es_audio_info a = record_of<es_audio_info>(ES_TYPE_MPEG1_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG1_AUDIO, false, mp3, kPieces).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.mpeg1.layer, 1);
  EXPECT_EQ(mpeg_audio_bitrate(a.mpeg1.id, a.mpeg1.layer, a.mpeg1.bitrate_index), 128u);
  a = record_of<es_audio_info>(ES_TYPE_MPEG2_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG2_AUDIO, false, mp3, kPieces).result, ES_RESULT_UNSUPPORTED);
}
