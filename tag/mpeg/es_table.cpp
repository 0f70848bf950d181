// The parser table and the values read from the stream records.
#include "es_impl.h"

namespace {

const es_header_parser_row video_rows[] = {
    {ES_TYPE_MPEG1_VIDEO, es::mpeg1_video_parse, es::mpeg1_video_complete},
    {ES_TYPE_MPEG2_VIDEO, es::mpeg2_video_parse, es::mpeg2_video_complete},
    {ES_TYPE_MPEG4_VISUAL, es::mp4v_parse, es::mp4v_complete},
    {ES_TYPE_H264, es::avc_parse, es::avc_complete},
    {0, nullptr, nullptr},
};

const es_header_parser_row audio_rows[] = {
    {ES_TYPE_MPEG1_AUDIO, es::mpeg1_audio_parse, es::mpeg1_audio_complete},
    {ES_TYPE_MPEG2_AUDIO, es::mpeg2_audio_parse, es::mpeg2_audio_complete},
    {ES_TYPE_AAC_ADTS, es::adts_parse, es::adts_complete},
    {ES_TYPE_AAC_MPEG4, es::adts_parse, es::adts_complete},
    {ES_TYPE_AC3, es::ac3_parse, es::ac3_complete},
    {0, nullptr, nullptr},
};

// [ID][bitrate index][layer code], kbit/s.
const uint16_t bitrates[2][16][4] = {
    {{0, 0, 0, 0},      {0, 8, 8, 32},      {0, 16, 16, 48},    {0, 24, 24, 56},
     {0, 32, 32, 64},   {0, 40, 40, 80},    {0, 48, 48, 96},    {0, 56, 56, 112},
     {0, 64, 64, 128},  {0, 80, 80, 144},   {0, 96, 96, 160},   {0, 112, 112, 176},
     {0, 128, 128, 192}, {0, 144, 144, 224}, {0, 160, 160, 256}, {0, 0, 0, 0}},
    {{0, 0, 0, 0},       {0, 32, 32, 32},    {0, 40, 48, 64},    {0, 48, 56, 96},
     {0, 56, 64, 128},   {0, 64, 80, 160},   {0, 80, 96, 192},   {0, 96, 112, 224},
     {0, 112, 128, 256}, {0, 128, 160, 288}, {0, 160, 192, 320}, {0, 192, 224, 352},
     {0, 224, 256, 384}, {0, 256, 320, 416}, {0, 320, 384, 448}, {0, 0, 0, 0}},
};

struct display_size {
  uint32_t coded_w, coded_h, w, h;
};

// Encoders pad the picture to whole macroblocks and crop it back; these are
// the padded sizes of the common display sizes.
const display_size avc_display_size_table[] = {
    {2048, 1088, 2048, 1080}, {1920, 1088, 1920, 1080}, {1440, 1088, 1440, 1080}, {640, 368, 640, 360},
    {480, 368, 480, 360},     {480, 272, 480, 270},     {320, 192, 320, 180},     {240, 192, 240, 180},
    {176, 128, 176, 120},     {160, 128, 160, 120},     {160, 96, 160, 90},
};

}  // namespace

extern "C" {

const es_header_parser_lists es_header_parser_table = {video_rows, audio_rows};

const es_header_parser_row *es_header_parser_find(const es_header_parser_row *list, uint32_t stream_type)
{
  for (; list->parse; list++)
    if ((list->stream_type & 0xFFFF) == (stream_type & 0xFFFF)) return list;
  return nullptr;
}

uint32_t mpeg_audio_bitrate(uint32_t id, uint32_t layer, uint32_t bitrate_index)
{
  if (id > 1 || layer > 3 || bitrate_index > 15) return 0;
  return bitrates[id][bitrate_index][layer];
}

uint32_t mpeg_audio_sample_rate(uint32_t id, uint32_t sampling_frequency)
{
  static const uint32_t rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
  if (id > 1 || sampling_frequency > 2) return 0;
  return rates[id][sampling_frequency];
}

int avc_frame_size(const avc_sps_info *sps, uint32_t *width, uint32_t *height)
{
  uint32_t w = (uint32_t(sps->pic_width_in_mbs_minus1) + 1) * 16;
  uint32_t h = (2 - (sps->frame_mbs_only_flag ? 1u : 0u)) * (uint32_t(sps->pic_height_in_map_units_minus1) + 1) * 16;
  for (const display_size &d : avc_display_size_table)
    if (d.coded_w == w && d.coded_h == h) {
      w = d.w;
      h = d.h;
      break;
    }
  *width = w;
  *height = h;
  return 1;
}

}  // extern "C"
