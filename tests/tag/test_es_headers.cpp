// The elementary-stream header parsers on streams built from bytes: the
// consumed contract across split deliveries, the lock procedures past
// corrupt candidates, and the bit reading of the SPS and Layer II data.
#include <gtest/gtest.h>

#include <tarvo_tag/tag_limits.h>

#include "es_bytes.h"

using namespace es_test;

namespace {

int parse_once(void *record, uint32_t type, bool video, const bytes &b, uint32_t *consumed)
{
  const es_header_parser_row *row =
      es_header_parser_find(video ? es_header_parser_table.video : es_header_parser_table.audio, type);
  sys_memalloc_rec payload{const_cast<unsigned char *>(b.data()), uint32_t(b.size()), uint32_t(b.size())};
  return row->parse(record, &payload, consumed);
}

bytes sequence_header(uint32_t w, uint32_t h)
{
  bit_writer b;
  b.put(0x1B3, 32);
  b.put(w, 12);
  b.put(h, 12);
  b.put(3, 4);        // aspect
  b.put(3, 4);        // 25 Hz
  b.put(15000, 18);   // bit rate
  b.put(1, 1);        // marker
  b.put(112, 10);     // vbv
  b.put(0, 3);        // constrained, no matrices
  return b.out;
}

bytes sequence_extension()
{
  bit_writer b;
  b.put(0x1B5, 32);
  b.put(1, 4);
  b.put(0x48, 8);  // main profile, main level
  b.put(1, 1);
  b.put(1, 2);     // 4:2:0
  b.put(0, 4);
  b.put(0, 12);
  b.put(1, 1);
  b.put(0, 16);
  return b.out;
}

const bytes kPicture = {0, 0, 1, 0, 0x10, 0x20};

}  // namespace

TEST(EsHeaders, MpegVideoSequenceHeaderAcrossDeliveriesAndWhatMayFollowIt)
{
  // Split inside the header: 4 with the bytes before its start code, then 1.
  bytes stream = cat({{0xAA, 0xBB, 0x00, 0x47, 0x11}, sequence_header(352, 288), kPicture});
  es_video_info v = record_of<es_video_info>(ES_TYPE_MPEG1_VIDEO);
  uint32_t consumed = 0;
  EXPECT_EQ(parse_once(&v, ES_TYPE_MPEG1_VIDEO, true, bytes(stream.begin(), stream.begin() + 12), &consumed),
            ES_RESULT_MORE);
  EXPECT_EQ(consumed, 5u);
  EXPECT_EQ(v.mpeg1_sequence.start_code, 0u);
  bytes rest(stream.begin() + 5, stream.end());
  EXPECT_EQ(parse_once(&v, ES_TYPE_MPEG1_VIDEO, true, rest, &consumed), ES_RESULT_COMPLETE);
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(v.mpeg1_sequence.horizontal_size, 352);
  EXPECT_EQ(v.mpeg1_sequence.vertical_size, 288);
  EXPECT_EQ(v.mpeg1_sequence.bit_rate_value, 15000u);
  EXPECT_EQ(parse_once(&v, ES_TYPE_MPEG1_VIDEO, true, rest, &consumed), ES_RESULT_COMPLETE);
  EXPECT_EQ(consumed, rest.size());

  // No start code yet: the last three bytes stay for the next delivery.
  es_video_info w = record_of<es_video_info>(ES_TYPE_MPEG1_VIDEO);
  EXPECT_EQ(parse_once(&w, ES_TYPE_MPEG1_VIDEO, true, {0xAA, 0xBB, 0, 0, 1}, &consumed), ES_RESULT_MORE);
  EXPECT_EQ(consumed, 2u);

  // MPEG-2: the extension must come, after zero stuffing only.
  struct {
    bytes stream;
    int result;
  } cases[] = {
      {cat({sequence_header(720, 576), kPicture}), ES_RESULT_INVALID},
      {cat({sequence_header(720, 576), {0, 0, 7}, sequence_extension()}), ES_RESULT_STUFFING},
      {cat({sequence_header(720, 576), sequence_extension(), {0, 0, 1, 0xB5, 0x30}}), ES_RESULT_UNSUPPORTED},
      {cat({sequence_header(720, 576), {0, 0}, sequence_extension(), {0, 0, 1, 0xB5, 0x22, 0x0B, 0x40, 0x2D, 0x20},
            kPicture}),
       ES_RESULT_COMPLETE},
  };
  for (auto &c : cases) {
    es_video_info m = record_of<es_video_info>(ES_TYPE_MPEG2_VIDEO);
    EXPECT_EQ(parse_once(&m, ES_TYPE_MPEG2_VIDEO, true, c.stream, &consumed), c.result);
    EXPECT_EQ(m.mpeg2_sequence.start_code != 0, c.result == ES_RESULT_COMPLETE);
    if (c.result != ES_RESULT_COMPLETE) continue;
    EXPECT_EQ(m.mpeg2_sequence.horizontal_size, 720);
    EXPECT_EQ(m.mpeg2_extension.profile_and_level_indication, 0x48);
    EXPECT_EQ(m.mpeg2_extension.chroma_format, 1);
  }
}

namespace {

struct sps_fields {
  uint32_t profile = 77, width_mbs = 120, height_units = 68, frame_mbs_only = 1;
  bool timing = true;
};

// An SPS NAL unit with its start code, escaped as in a stream.
bytes sps_nal(const sps_fields &f)
{
  bit_writer b;
  b.put(f.profile, 8);
  b.put(0x40, 8);  // constraint_set1
  b.put(40, 8);
  b.ue(0);         // sps id
  b.ue(0);         // log2_max_frame_num_minus4
  b.ue(0);         // pic_order_cnt_type
  b.ue(2);
  b.ue(1);         // num_ref_frames
  b.put(0, 1);
  b.ue(f.width_mbs - 1);
  b.ue(f.height_units - 1);
  b.put(f.frame_mbs_only, 1);
  if (!f.frame_mbs_only) b.put(0, 1);
  b.put(1, 1);
  b.put(0, 1);     // no cropping
  b.put(1, 1);     // VUI
  b.put(1, 1);
  b.put(255, 8);
  b.put(0, 16);    // sar 0:0 gives zero bytes to escape
  b.put(3, 16);
  b.put(0, 3);     // no overscan, signal type, chroma location
  b.put(f.timing, 1);
  if (f.timing) {
    b.put(1, 32);
    b.put(50, 32);
    b.put(1, 1);
  }
  b.put(0, 3);
  b.put(0, 1);     // no bitstream restriction
  b.trail();
  bytes nal = {0, 0, 0, 1, 0x67};
  int zeros = 0;
  for (unsigned char c : b.out) {
    if (zeros >= 2 && c <= 3) {
      nal.push_back(3);
      zeros = 0;
    }
    nal.push_back(c);
    zeros = c == 0 ? zeros + 1 : 0;
  }
  return nal;
}

bool has_escape(const bytes &b)
{
  for (size_t i = 2; i < b.size(); i++)
    if (b[i - 2] == 0 && b[i - 1] == 0 && b[i] == 3) return true;
  return false;
}

}  // namespace

TEST(EsHeaders, H264SpsUnescapedAndItsDisplaySize)
{
  struct {
    sps_fields f;
    uint32_t width, height;
  } cases[] = {
      {{77, 120, 68, 1, true}, 1920, 1080}, {{66, 120, 34, 0, true}, 1920, 1080}, {{77, 45, 36, 1, false}, 720, 576},
      {{77, 40, 23, 1, true}, 640, 360},   {{66, 10, 8, 1, true}, 160, 120},
  };
  for (auto &c : cases) {
    bytes nal = cat({{0x09, 0x10}, sps_nal(c.f), {0, 0, 1, 0x68, 0xCE}});
    ASSERT_TRUE(has_escape(nal));
    es_video_info v = record_of<es_video_info>(ES_TYPE_H264);
    // Byte by byte: every call but the last ends inside the SPS.
    EXPECT_EQ(feed(&v, ES_TYPE_H264, true, nal, {1}).result, ES_RESULT_COMPLETE);
    EXPECT_EQ(v.sps.present, 7);
    EXPECT_EQ(v.sps.profile_idc, c.f.profile);
    EXPECT_EQ(v.sps.constraint_set1_flag, 1);
    EXPECT_EQ(v.sps.level_idc, 40);
    EXPECT_EQ(v.sps.aspect_ratio_idc, 255);
    EXPECT_EQ(v.sps.sar_height, 3);
    EXPECT_EQ(v.sps.time_scale, c.f.timing ? 50u : 0u);
    uint32_t w = 0, h = 0;
    EXPECT_EQ(avc_frame_size(&v.sps, &w, &h), 1);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
  }

  // Cut inside: 4 with the bytes before the start code.
  bytes nal = cat({{0xAA, 0xBB}, sps_nal({})});
  es_video_info v = record_of<es_video_info>(ES_TYPE_H264);
  uint32_t consumed = 0;
  EXPECT_EQ(parse_once(&v, ES_TYPE_H264, true, bytes(nal.begin(), nal.begin() + 12), &consumed), ES_RESULT_MORE);
  EXPECT_EQ(consumed, 3u);  // the start code's leading zero byte goes

  // High profiles, and the 4:4:4 and scalable ones whose SPS has more
  // fields, are not read as if they had none.
  for (uint32_t profile : {100u, 244u, 118u}) {
    sps_fields high;
    high.profile = profile;
    es_video_info hv = record_of<es_video_info>(ES_TYPE_H264);
    EXPECT_EQ(parse_once(&hv, ES_TYPE_H264, true, sps_nal(high), &consumed), ES_RESULT_UNSUPPORTED) << profile;
    EXPECT_EQ(hv.sps.present, 0);
  }
}

namespace {

// An SPS made long by a picture-order cycle of count one-bit entries.
bytes long_sps(uint32_t count)
{
  bit_writer b;
  b.put(77, 8);
  b.put(0, 8);
  b.put(30, 8);
  b.ue(0);
  b.ue(0);
  b.ue(1);  // pic_order_cnt_type 1
  b.put(0, 1);
  b.ue(0);
  b.ue(0);
  b.ue(count);
  for (uint32_t i = 0; i < count; i++) b.put(1, 1);
  b.ue(1);
  b.put(0, 1);
  b.ue(21);
  b.ue(17);
  b.put(1, 1);
  b.put(1, 1);
  b.put(0, 2);  // no cropping, no VUI
  b.trail();
  return b.out;
}

}  // namespace

TEST(EsHeaders, SpsUpToTheCopyLimitIsRead)
{
  uint32_t count = TAG_AVC_SPS_MAX * 8;
  while (long_sps(count).size() > TAG_AVC_SPS_MAX) count--;
  for (uint32_t n : {count, count + 8}) {
    bytes stream = cat({{0, 0, 1, 0x67}, long_sps(n), bytes(64, 0x80)});
    es_video_info v = record_of<es_video_info>(ES_TYPE_H264);
    uint32_t consumed = 0;
    int r = parse_once(&v, ES_TYPE_H264, true, stream, &consumed);
    EXPECT_EQ(r, n == count ? ES_RESULT_COMPLETE : ES_RESULT_INVALID) << n;
    if (r == ES_RESULT_COMPLETE) {
      EXPECT_EQ(v.sps.pic_width_in_mbs_minus1, 21);
    }
  }
}

TEST(EsHeaders, ExpGolombOfMoreThan31ZerosIsNoSps)
{
  bit_writer b;
  b.put(77, 8);
  b.put(0, 16);
  b.put(0, 32);
  b.put(1, 1);
  b.put(0xFFFFFFFFull, 32);
  b.put(0xFFFF, 16);
  bytes nal = cat({{0, 0, 1, 0x67}, b.out});
  es_video_info v = record_of<es_video_info>(ES_TYPE_H264);
  uint32_t consumed = 0;
  EXPECT_EQ(parse_once(&v, ES_TYPE_H264, true, nal, &consumed), ES_RESULT_INVALID);
  EXPECT_EQ(v.sps.present, 0);
}

namespace {

bytes mpa_frame(uint32_t id, uint32_t layer, uint32_t rate, uint32_t sf, uint32_t mode, uint32_t emphasis = 0,
                size_t size = 96)
{
  bit_writer b;
  b.put(0xFFF, 12);
  b.put(id, 1);
  b.put(layer, 2);
  b.put(1, 1);  // no CRC
  b.put(rate, 4);
  b.put(sf, 2);
  b.put(0, 2);
  b.put(mode, 2);
  b.put(0, 4);
  b.put(emphasis, 2);
  b.out.resize(size, 0);
  return b.out;
}

}  // namespace

TEST(EsHeaders, MpegAudioLocksOnThreeOfFiveEqualHeaders)
{
  EXPECT_EQ(mpeg_audio_bitrate(1, 1, 9), 128u);
  EXPECT_EQ(mpeg_audio_bitrate(0, 2, 8), 64u);
  EXPECT_EQ(mpeg_audio_bitrate(1, 2, 15), 0u);
  EXPECT_EQ(mpeg_audio_sample_rate(0, 1), 24000u);
  EXPECT_EQ(mpeg_audio_sample_rate(1, 3), 0u);

  bytes good = mpa_frame(1, 1, 9, 0, 1), other = mpa_frame(1, 1, 11, 0, 1), broken = mpa_frame(1, 0, 9, 0, 1);
  bytes stream = cat({other, good, broken, good, other, good, good});
  es_audio_info a = record_of<es_audio_info>(ES_TYPE_MPEG1_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG1_AUDIO, false, stream, {50, 7, 1}).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.mpeg1.raw[2], good[2]);
  EXPECT_EQ(a.mpeg1.bitrate_index, 9);
  EXPECT_EQ(a.mpeg1.layer, 1);
  EXPECT_EQ(a.mpeg1_ring.count, 5u);  // the broken one was passed over

  // Layer III offered as MPEG-2 audio is a variant not handled.
  es_audio_info m = record_of<es_audio_info>(ES_TYPE_MPEG2_AUDIO);
  EXPECT_EQ(feed(&m, ES_TYPE_MPEG2_AUDIO, false, cat({good, good, good, good, good, good}), {100}).result,
            ES_RESULT_UNSUPPORTED);
}

TEST(EsHeaders, Mpeg2AudioWalksLayerTwoDataToTheMultichannelHeader)
{
  // 48 kHz, 192 kbit/s stereo: table B.2a, 27 sub-bands, 4 allocation bits
  // for the first three.  Sub-band 0 of channel 0 gets 3 levels (one 5-bit
  // code per granule) and scale factor selection 2 (one factor).
  bytes header = mpa_frame(1, 2, 10, 1, 0, 0, 4);
  bit_writer b;
  for (uint32_t i : header) b.put(i, 8);
  b.put(1, 4);
  static const int nbal[27] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2};
  for (int sb = 0; sb < 27; sb++) b.put(0, sb == 0 ? nbal[sb] : 2 * nbal[sb]);
  b.put(2, 2);
  b.put(0x2A, 6);
  // Sample codes that form no sync word between the frames' headers.
  for (int gr = 0; gr < 12; gr++) b.put(0x15, 5);
  b.put(0, 1);      // no extension stream
  b.put(2, 2);      // center
  b.put(1, 2);      // surround
  b.put(1, 1);      // lfe
  b.put(1, 1);
  b.put(1, 2);      // dematrix
  b.put(0, 3);
  b.put(0x5, 4);
  b.put(0x1234, 16);
  b.put(3, 2);
  b.put(1, 1);      // mc_prediction_on
  b.out.resize(576, 0);
  bytes stream;
  for (int i = 0; i < 7; i++) stream = cat({stream, b.out});
  es_audio_info a = record_of<es_audio_info>(ES_TYPE_MPEG2_AUDIO);
  EXPECT_EQ(feed(&a, ES_TYPE_MPEG2_AUDIO, false, stream, {188, 20}).result, ES_RESULT_COMPLETE);
  EXPECT_EQ(a.mc_read, 1u);
  EXPECT_EQ(a.mc.center, 2);
  EXPECT_EQ(a.mc.surround, 1);
  EXPECT_EQ(a.mc.lfe, 1);
  EXPECT_EQ(a.mc.dematrix_procedure, 1);
  EXPECT_EQ(a.mc.no_of_multi_lingual_ch, 0);
  EXPECT_EQ(a.mc.mc_prediction_on, 1);
}

namespace {

struct adts_fields {
  uint32_t id = 0, sf = 4, channels = 2, fullness = 0x7FF;
  bool sbr = false;
  uint32_t layer = 0;
};

bytes adts_frame(const adts_fields &f, size_t size = 40)
{
  bit_writer b;
  b.put(0xFFF, 12);
  b.put(f.id, 1);
  b.put(f.layer, 2);
  b.put(1, 1);  // no CRC
  b.put(1, 2);  // LC
  b.put(f.sf, 4);
  b.put(0, 1);
  b.put(f.channels, 3);
  b.put(0, 4);
  b.put(size, 13);
  b.put(f.fullness, 11);
  b.put(0, 2);
  if (f.sbr) {
    b.put(6, 3);   // fill element
    b.put(3, 4);
    b.put(13, 4);  // SBR data
  } else {
    b.put(1, 3);   // a channel pair
  }
  b.out.resize(size, 0);
  return b.out;
}

}  // namespace

TEST(EsHeaders, AdtsLocksPastCorruptAndForeignCandidatesAndInspectsTenFrames)
{
  adts_fields good, mono, foreign, broken;
  mono.channels = 1;
  foreign.id = 1;
  broken.layer = 1;
  adts_fields sbr = good;
  sbr.sbr = true;
  bytes stream = cat({adts_frame(broken), adts_frame(mono), adts_frame(foreign), adts_frame(good), adts_frame(good),
                      adts_frame(mono), adts_frame(good), adts_frame(sbr)});
  for (int i = 0; i < 12; i++) stream = cat({stream, adts_frame(good)});

  // Type 0x0F takes either ID (encoders write 0); 0x11 passes over ID 1.
  for (uint32_t type : {ES_TYPE_AAC_ADTS, ES_TYPE_AAC_MPEG4}) {
    es_audio_info a = record_of<es_audio_info>(uint16_t(type));
    EXPECT_EQ(feed(&a, type, false, stream, {184, 7, 33}).result, ES_RESULT_COMPLETE) << type;
    EXPECT_EQ(a.adts.channel_configuration, 2);
    EXPECT_EQ(a.adts.id, 0);
    EXPECT_EQ(a.adts.sampling_frequency_index, 4);
    EXPECT_EQ(a.adts_stats.frames, 10);
    EXPECT_EQ(a.adts_stats.variable_rate, 1);
    EXPECT_EQ(a.adts_stats.sbr, 1);
  }

  // ID 1 frames on 0x0F lock as well; on 0x11 they never lock nor fail.
  adts_fields mpeg2 = good;
  mpeg2.id = 1;
  bytes ids1;
  for (int i = 0; i < 16; i++) ids1 = cat({ids1, adts_frame(mpeg2)});
  es_audio_info a = record_of<es_audio_info>(ES_TYPE_AAC_ADTS);
  EXPECT_EQ(feed(&a, ES_TYPE_AAC_ADTS, false, ids1, {100}).result, ES_RESULT_COMPLETE);
  es_audio_info b = record_of<es_audio_info>(ES_TYPE_AAC_MPEG4);
  EXPECT_EQ(feed(&b, ES_TYPE_AAC_MPEG4, false, ids1, {100}).result, ES_RESULT_MORE);
  EXPECT_EQ(b.adts.syncword, 0);
}

TEST(EsHeaders, Ac3SyncInformationAcrossDeliveries)
{
  // 48 kHz, 3/2 with LFE: both mix levels present.
  bytes frame = {0x0B, 0x77, 0x12, 0x34, 0x1C, 0x40, 0xE5, 0x60, 0, 0};
  bytes stream = cat({{0x01, 0x0B, 0xFF}, frame});
  es_audio_info a = record_of<es_audio_info>(ES_TYPE_AC3);
  uint32_t consumed = 0;
  EXPECT_EQ(parse_once(&a, ES_TYPE_AC3, false, bytes(stream.begin(), stream.begin() + 7), &consumed), ES_RESULT_MORE);
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(parse_once(&a, ES_TYPE_AC3, false, {0x01, 0x02, 0x0B}, &consumed), ES_RESULT_MORE);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(parse_once(&a, ES_TYPE_AC3, false, stream, &consumed), ES_RESULT_COMPLETE);
  EXPECT_EQ(a.ac3_sync.fscod, 0);
  EXPECT_EQ(a.ac3_sync.frmsizecod, 0x1C);
  EXPECT_EQ(a.ac3.bsid, 8);
  EXPECT_EQ(a.ac3.acmod, 7);
  EXPECT_EQ(a.ac3.lfeon, 1);
}
