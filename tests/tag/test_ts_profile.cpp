// The profile table on stream records as the transport-stream reader fills
// them: the rows whose tests were mended, and streams that fit no row.
#include <gtest/gtest.h>

#include <string>

#include "mpegts_impl.h"

namespace {

struct fixture {
  mpegts_demux d{};
  mpegts_info info{};
  es_audio_info audio{};
  void *slot[1] = {&audio};
  fixture()
  {
    d.audio = {slot, 1, 1};
    info.packet_size = 188;
    info.presence = MPEGTS_HAS(MPEGTS_BIT_BIT_RATE) | MPEGTS_HAS(MPEGTS_BIT_STREAM_KIND) |
                    MPEGTS_HAS(MPEGTS_BIT_TIMESTAMP_KIND) | MPEGTS_HAS(MPEGTS_BIT_OBJECT_TYPE_FLAG);
    info.stream_kind = MPEGTS_STREAM_NIT;
    info.timestamp_kind = MPEGTS_STAMPS_188;
    info.bit_rate = 1000000;
  }
  std::string profile()
  {
    sys_stralloc_rec s{};
    std::string r = dlna_ts_profile_find(&d, &info, &s) ? std::string(s.buf, s.len) : "";
    sys_stralloc_free(&s);
    return r;
  }
  // MPEG-4 visual at CIF, 30 frames per second by its VOP increment.
  void mp4v(uint8_t level, uint32_t vol_rate, uint32_t increment)
  {
    es_video_info &v = d.video;
    v.stream_type = ES_TYPE_MPEG4_VISUAL;
    v.pid = 0x100;
    v.vos = {0x1B0, level};
    v.vol.start_code = 0x120;
    v.vol.aspect_ratio_info = 1;
    v.vol.chroma_format = 1;
    v.vol.first_half_bit_rate = uint16_t((vol_rate / 400) >> 15);
    v.vol.latter_half_bit_rate = uint16_t((vol_rate / 400) & 0x7FFF);
    v.vol.vop_time_increment_resolution = 30;
    v.vol.video_object_layer_width = 352;
    v.vol.video_object_layer_height = 288;
    v.vop = {0x1B6, increment};
  }
  void layer2()
  {
    audio.stream_type = ES_TYPE_MPEG1_AUDIO;
    audio.mpeg1 = {};
    audio.mpeg1.syncword = 0xFFF;
    audio.mpeg1.id = 1;
    audio.mpeg1.layer = 2;
    audio.mpeg1.bitrate_index = 10; // 192 kbit/s
    audio.mpeg1.sampling_frequency = 1;
  }
  void avc(uint32_t profile, uint32_t level, uint32_t width_mbs, uint32_t height_units, bool frame_mbs_only)
  {
    es_video_info &v = d.video;
    v.stream_type = ES_TYPE_H264;
    v.pid = 0x100;
    v.sps = {};
    v.sps.present = 7;
    v.sps.profile_idc = uint8_t(profile);
    v.sps.level_idc = uint8_t(level);
    v.sps.pic_width_in_mbs_minus1 = uint8_t(width_mbs - 1);
    v.sps.pic_height_in_map_units_minus1 = uint8_t(height_units - 1);
    v.sps.frame_mbs_only_flag = frame_mbs_only;
    v.sps.vui_parameters_present_flag = 1;
    v.sps.aspect_ratio_info_present_flag = 1;
    v.sps.aspect_ratio_idc = 1;
    v.sps.timing_info_present_flag = 1;
    v.sps.num_units_in_tick = 1001;
    v.sps.time_scale = 60000;
  }
  void ac3(uint8_t frmsizecod)
  {
    audio.stream_type = ES_TYPE_AC3;
    audio.ac3_sync = {0x0B77, 0, frmsizecod};
    audio.ac3 = {8, 0, 7, 1};
  }
};

}  // namespace

TEST(TsProfile, Mpeg4VisualRowsTestTheProfileAndNeverDivideByZero)
{
  fixture f;
  f.layer2();
  f.mp4v(0x03, 384000, 1);
  EXPECT_EQ(f.profile(), "MPEG4_P2_TS_SP_MPEG2_L2");
  // A VOL rate below the level's rate still fits it.
  f.mp4v(0x03, 200000, 1);
  EXPECT_EQ(f.profile(), "MPEG4_P2_TS_SP_MPEG2_L2");
  // Advanced Simple Profile is no Simple Profile, and has no row with
  // MPEG-2 Layer II audio.
  f.mp4v(0xF3, 768000, 1);
  EXPECT_EQ(f.profile(), "");
  // Core profile has one, from 3 Mbit/s of transport.
  f.mp4v(0x21, 384000, 1);
  EXPECT_EQ(f.profile(), "");
  f.info.bit_rate = 3000000;
  EXPECT_EQ(f.profile(), "MPEG4_P2_TS_CO_MPEG2_L2");
  f.info.bit_rate = 1000000;
  // A first VOP increment of 0 gives no frame rate.
  f.mp4v(0x03, 384000, 0);
  EXPECT_EQ(f.profile(), "");
  // The transport floor of level 0x03 is 600 kbit/s.
  f.mp4v(0x03, 384000, 1);
  f.info.bit_rate = 500000;
  EXPECT_EQ(f.profile(), "");
}

TEST(TsProfile, H264RowsBySizeLevelRateAndAudio)
{
  fixture f;
  f.info.bit_rate = 18000000;
  f.ac3(0x1C);
  // Main at level 4, 1440x1080 interlaced at 29.97: fits the 1920x1080
  // 59.94 interlaced entry.
  f.avc(77, 40, 90, 34, false);
  EXPECT_EQ(f.profile(), "AVC_TS_MP_HD_AC3");
  // 640 kbit/s AC-3 is over the 448 kbit/s limit.
  f.ac3(0x24);
  EXPECT_EQ(f.profile(), "");
  // High profile fits no row.
  f.ac3(0x1C);
  f.avc(100, 40, 120, 34, false);
  EXPECT_EQ(f.profile(), "");
  // Baseline CIF at 29.97 with constraint_set1 and stereo AAC.
  f.info.bit_rate = 900000;
  f.avc(66, 20, 22, 18, true);
  f.d.video.sps.constraint_set1_flag = 1;
  f.audio = {};
  f.audio.stream_type = ES_TYPE_AAC_ADTS;
  f.audio.adts = {{0xFF, 0xF1, 0, 0}, 0xFFF, 0, 1, 1, 3, 2, 0};
  EXPECT_EQ(f.profile(), "AVC_TS_BL_CIF30_AAC_MULT5");
  // No frame rate from the SPS and a zero tick in the timing descriptor.
  f.d.video.sps.timing_info_present_flag = 0;
  f.d.video.avc_timing = {0x2A, 1, 1, 0, 0, 0, 1};
  EXPECT_EQ(f.profile(), "");
  f.d.video.avc_timing.num_units_in_tick = 1501; // 90 kHz clock: 29.98
  EXPECT_EQ(f.profile(), "AVC_TS_BL_CIF30_AAC_MULT5");
}

TEST(TsProfile, JapaneseAacLimitHoldsPerChannel)
{
  fixture f;
  f.info.packet_size = 192;
  f.info.stream_kind = MPEGTS_STREAM_PARTIAL;
  f.info.timestamp_kind = MPEGTS_STAMPS_192;
  f.info.object_type_flag = 1;
  es_video_info &v = f.d.video;
  v.stream_type = ES_TYPE_MPEG2_VIDEO;
  v.pid = 0x100;
  v.mpeg2_sequence = {0x1B3, 1920, 1080, 3, 4, 40000};
  v.mpeg2_extension = {};
  v.mpeg2_extension.start_code = 0x1B5;
  v.mpeg2_extension.profile_and_level_indication = 0x44;
  v.mpeg2_extension.chroma_format = 1;
  f.audio.stream_type = ES_TYPE_AAC_ADTS;
  for (uint8_t channels : {1, 2, 6}) {
    f.audio.adts = {{0xFF, 0xF0, 0, 0}, 0xFFF, 1, 0, 1, 3, channels, 0};
    EXPECT_EQ(f.profile(), "MPEG_TS_JP") << int(channels);
  }
  f.audio.adts.channel_configuration = 3;
  EXPECT_EQ(f.profile(), "");
  f.audio.adts.channel_configuration = 2;
  f.audio.adts_stats.max_raw_blocks = 1; // more than one block a frame
  EXPECT_EQ(f.profile(), "");
}
