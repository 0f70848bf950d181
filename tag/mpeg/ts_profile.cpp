// DLNA profile names of transport streams: the first row of the table
// whose tests all pass names the stream.
#include <cmath>

#include "mpegts_parts.h"

namespace {

using ts::has;

typedef int (*ts_test_fn)(const mpegts_demux *d, const mpegts_info *info, uint32_t arg);

struct ts_test {
  ts_test_fn fn; // NULL ends a row's tests
  uint32_t arg;
};

struct dlna_ts_profile_row {
  const char *name; // NULL ends the table
  ts_test tests[16];
};

struct size2 {
  uint32_t w, h;
};

template <size_t N> bool in_sizes(const size2 (&list)[N], uint32_t w, uint32_t h)
{
  for (const size2 &s : list)
    if (s.w == w && s.h == h) return true;
  return false;
}

template <size_t N> bool in_list(const uint32_t (&list)[N], uint32_t v)
{
  for (uint32_t x : list)
    if (x == v) return true;
  return false;
}

const uint32_t avc_level_max_bitrate[16] = {64000,    128000,   192000,   384000,   768000,    2000000,
                                            4000000,  4000000,  10000000, 14000000, 20000000,  20000000,
                                            50000000, 50000000, 135000000, 240000000};
const uint32_t aac_sample_rates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                       16000, 12000, 11025, 8000,  0,     0,     0,     0};
const uint32_t aac_channels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
// Hundredths of a frame per second, by frame_rate_code.
const uint32_t mpeg2_frame_rates[16] = {0, 2397, 2400, 2500, 2997, 3000, 5000, 5994, 6000, 0, 0, 0, 0, 0, 0, 0};

const size2 small_sizes[] = {{352, 288}, {352, 240}, {320, 240}, {320, 180}, {240, 180}, {208, 160},
                             {176, 144}, {176, 120}, {160, 120}, {160, 112}, {160, 90},  {128, 96}};
const size2 sd_sizes[] = {{720, 576}, {720, 480}, {704, 576}, {704, 480}, {640, 480}, {640, 360}, {544, 576},
                          {544, 480}, {480, 576}, {480, 480}, {480, 360}, {480, 270}, {352, 576}, {352, 480},
                          {352, 288}, {352, 240}, {320, 240}, {320, 180}, {240, 180}, {208, 160}, {176, 144},
                          {176, 120}, {160, 120}, {160, 112}, {160, 90},  {128, 96}};
const size2 cif30_sizes[] = {{352, 288}, {352, 240}, {320, 240}, {320, 180}, {240, 180}, {240, 135}, {208, 160},
                             {176, 144}, {176, 120}, {160, 120}, {160, 112}, {160, 90},  {128, 96}};
const size2 small_aspects[] = {{1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};
const size2 wide_aspects[] = {{1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33}, {44, 33}, {64, 33}, {160, 99},
                              {18, 11}, {15, 11}, {24, 11}, {60, 33}, {20, 11}, {32, 11}, {80, 33}};
// ITU-T H.264 Table E-1, by aspect_ratio_idc 1-16.
const size2 avc_aspects[16] = {{1, 1},  {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
                               {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};

// --- helpers ---

const es_audio_info *one_audio(const mpegts_demux *d)
{
  return d->audio.len == 1 ? static_cast<const es_audio_info *>(d->audio.buf[0]) : nullptr;
}

const es_audio_info *audio_at(const mpegts_demux *d, uint32_t i)
{
  return static_cast<const es_audio_info *>(d->audio.buf[i]);
}

uint32_t hundredths(double rate) { return rate > 0 ? uint32_t(std::floor(rate * 100 + 1e-6)) : 0; }

// --- transport and broadcast ---

int ts_test_false(const mpegts_demux *, const mpegts_info *, uint32_t) { return 0; }

int ts_test_arib(const mpegts_demux *, const mpegts_info *info, uint32_t)
{
  return has(info, MPEGTS_BIT_OBJECT_TYPE_FLAG) && info->object_type_flag == 1;
}

int ts_test_jp_transport(const mpegts_demux *, const mpegts_info *info, uint32_t)
{
  return has(info, MPEGTS_BIT_STREAM_KIND) && info->stream_kind == MPEGTS_STREAM_PARTIAL && info->packet_size == 192 &&
         has(info, MPEGTS_BIT_TIMESTAMP_KIND) && info->timestamp_kind == MPEGTS_STAMPS_192;
}

// --- MPEG-2 video ---

struct mpeg2_facts {
  uint32_t width, height, bit_rate, pli, chroma, aspect, rate, progressive;
};

bool mpeg2_facts_of(const mpegts_demux *d, mpeg2_facts *f)
{
  const es_video_info &v = d->video;
  if (v.stream_type != ES_TYPE_MPEG2_VIDEO || !v.mpeg2_sequence.start_code || !v.mpeg2_extension.start_code) return false;
  f->width = v.mpeg2_sequence.horizontal_size + v.mpeg2_extension.horizontal_size_extension * 4096u;
  f->height = v.mpeg2_sequence.vertical_size + v.mpeg2_extension.vertical_size_extension * 4096u;
  f->bit_rate = uint32_t(((uint64_t(v.mpeg2_extension.bit_rate_extension) << 18) + v.mpeg2_sequence.bit_rate_value) * 400u);
  f->pli = v.mpeg2_extension.profile_and_level_indication;
  f->chroma = v.mpeg2_extension.chroma_format;
  f->aspect = v.mpeg2_sequence.aspect_ratio_information;
  f->rate = mpeg2_frame_rates[v.mpeg2_sequence.frame_rate_code & 15];
  f->progressive = v.mpeg2_extension.progressive_sequence;
  return true;
}

int ts_test_jp_mpeg2_video(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  struct jp_format {
    uint32_t w, h, rate, progressive, pli;
  };
  static const jp_format formats[] = {{1920, 1080, 5994, 0, 0x44}, {1440, 1080, 5994, 0, 0x44},
                                      {1280, 720, 5994, 1, 0x44},  {720, 480, 5994, 1, 0x46},
                                      {720, 480, 5994, 0, 0x48},   {544, 480, 5994, 0, 0x48},
                                      {480, 480, 5994, 0, 0x48}};
  mpeg2_facts f;
  if (!mpeg2_facts_of(d, &f) || f.chroma != 1) return 0;
  uint32_t lo, hi;
  if (f.pli == 0x44)
    lo = 8000000, hi = 24000000;
  else if (f.pli == 0x46)
    lo = 4000000, hi = 24000000;
  else if (f.pli == 0x48)
    lo = 1500000, hi = 15000000;
  else
    return 0;
  if (f.bit_rate < lo || f.bit_rate > hi || (f.aspect != 2 && f.aspect != 3)) return 0;
  uint32_t rate = f.progressive ? f.rate : f.rate * 2;
  for (const jp_format &j : formats)
    if (j.w == f.width && j.h == f.height && j.rate == rate && j.progressive == f.progressive && j.pli == f.pli) return 1;
  return 0;
}

int ts_test_ll_mpeg2_video(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  mpeg2_facts f;
  return mpeg2_facts_of(d, &f) && f.pli == 0x4A && f.chroma == 1 && f.bit_rate < 4000001 && f.width == 352 &&
         f.height == 288 && (f.aspect == 2 || f.aspect == 3) && f.rate == 3000;
}

int ts_test_ll_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t)
{
  mpeg2_facts f;
  return has(info, MPEGTS_BIT_BIT_RATE) && info->bit_rate <= 5000000 && mpeg2_facts_of(d, &f) && f.bit_rate < 4000001;
}

// --- MPEG-4 visual ---

struct mp4v_facts {
  uint32_t chroma, width, height, par_w, par_h, pli, bit_rate;
  double rate;
};

bool mp4v_facts_of(const mpegts_demux *d, mp4v_facts *f)
{
  const es_video_info &v = d->video;
  if (v.stream_type != ES_TYPE_MPEG4_VISUAL || !v.vos.start_code) return false;
  f->pli = v.vos.profile_and_level_indication;
  uint32_t aspect, pw, ph, first, latter;
  if (v.studio_vol.start_code) {
    const mp4v_studio_vol_header &s = v.studio_vol;
    f->chroma = s.chroma_format, f->width = s.width, f->height = s.height;
    aspect = s.aspect_ratio_info, pw = s.par_width, ph = s.par_height;
    f->rate = mpeg2_frame_rates[s.frame_rate_code & 15] / 100.0;
    first = s.first_half_bit_rate, latter = s.latter_half_bit_rate;
  } else if (v.vol.start_code && (v.vol.fixed_vop_rate || v.vop.start_code)) {
    const mp4v_vol_header &s = v.vol;
    f->chroma = s.chroma_format, f->width = s.video_object_layer_width, f->height = s.video_object_layer_height;
    aspect = s.aspect_ratio_info, pw = s.par_width, ph = s.par_height;
    uint32_t increment = s.fixed_vop_rate ? s.fixed_vop_time_increment : v.vop.vop_time_increment;
    // An increment of 0 gives no frame rate.
    f->rate = increment ? double(s.vop_time_increment_resolution) / increment : 0;
    if (s.interlaced) f->rate /= 2;
    first = s.first_half_bit_rate, latter = s.latter_half_bit_rate;
  } else {
    return false;
  }
  if (aspect == 15) {
    f->par_w = pw, f->par_h = ph;
  } else if (aspect >= 1 && aspect <= 5) {
    f->par_w = small_aspects[aspect - 1].w, f->par_h = small_aspects[aspect - 1].h;
  } else {
    f->par_w = f->par_h = 0;
  }
  f->bit_rate = ((first << 15) + latter) * 400u;
  return f->rate > 0 && f->bit_rate != 0;
}

int ts_test_mp4v_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t)
{
  static const uint32_t rows[][2] = {{600000, 0x03}, {10000000, 0xF5}, {3000000, 0x21}, {3000000, 0x22}};
  mp4v_facts f;
  if ((info->stream_kind != MPEGTS_STREAM_NIT && info->stream_kind != MPEGTS_STREAM_PARTIAL) || !mp4v_facts_of(d, &f) ||
      !has(info, MPEGTS_BIT_BIT_RATE))
    return 0;
  for (const auto &r : rows)
    if (r[1] == f.pli) return r[0] <= info->bit_rate;
  return 1; // no floor for the stream's level
}

struct level_rate {
  uint32_t pli, max_rate;
};

template <size_t N, size_t S, size_t A>
int mp4v_profile_test(const mpegts_demux *d, const level_rate (&levels)[N], const size2 (&sizes)[S],
                      const size2 (&aspects)[A])
{
  mp4v_facts f;
  if (!mp4v_facts_of(d, &f) || f.chroma != 1 || f.rate > 30) return 0;
  bool level = false;
  for (const level_rate &l : levels) level = level || (l.pli == f.pli && f.bit_rate <= l.max_rate);
  return level && in_sizes(sizes, f.width, f.height) && in_sizes(aspects, f.par_w, f.par_h);
}

int ts_test_mp4v_sp(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const level_rate levels[] = {{0x08, 64000}, {0x09, 128000}, {0x01, 64000}, {0x02, 128000}, {0x03, 384000}};
  return mp4v_profile_test(d, levels, small_sizes, small_aspects);
}

int ts_test_mp4v_asp(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const level_rate levels[] = {{0xF0, 128000},  {0xF1, 128000},  {0xF2, 384000}, {0xF3, 768000},
                                      {0xF7, 1500000}, {0xF4, 3000000}, {0xF5, 8000000}};
  return mp4v_profile_test(d, levels, sd_sizes, wide_aspects);
}

int ts_test_mp4v_co(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const level_rate levels[] = {{0x21, 384000}, {0x22, 2000000}};
  return mp4v_profile_test(d, levels, small_sizes, small_aspects);
}

// --- H.264 ---

bool avc_stream(const mpegts_demux *d) { return d->video.stream_type == ES_TYPE_H264 && d->video.sps.present; }

int avc_level_index(const avc_sps_info &s)
{
  switch (s.level_idc) {
    case 10: return 0;
    case 11: return s.constraint_set3_flag ? 1 : 2;
    case 12: return 3;
    case 13: return 4;
    case 20: case 21: case 22: return 5 + (s.level_idc - 20);
    case 30: case 31: case 32: return 8 + (s.level_idc - 30);
    case 40: case 41: case 42: return 11 + (s.level_idc - 40);
    case 50: case 51: return 14 + (s.level_idc - 50);
    default: return -1;
  }
}

struct avc_facts {
  uint32_t profile, width, height, sar_w, sar_h, frame_mbs_only;
  int level;
  double rate;
};

double avc_rate(const es_video_info &v)
{
  const avc_sps_info &s = v.sps;
  if (s.timing_info_present_flag) return s.num_units_in_tick ? s.time_scale * 0.5 / s.num_units_in_tick : 0;
  const avc_timing_info &t = v.avc_timing;
  if (!t.present || !t.picture_and_timing_info_present || !t.num_units_in_tick) return 0;
  double clock;
  if (t.flag_90khz)
    clock = 90000;
  else if (t.k)
    clock = double(t.n) * 27000000.0 / t.k;
  else
    return 0;
  return clock * 0.5 / t.num_units_in_tick;
}

bool avc_facts_of(const mpegts_demux *d, avc_facts *f)
{
  if (!avc_stream(d)) return false;
  const avc_sps_info &s = d->video.sps;
  if (s.profile_idc != 66 && s.profile_idc != 77 && s.profile_idc != 88) return false;
  f->profile = s.profile_idc;
  if ((f->level = avc_level_index(s)) < 0) return false;
  avc_frame_size(&s, &f->width, &f->height);
  f->frame_mbs_only = s.frame_mbs_only_flag;
  if (!s.vui_parameters_present_flag || !s.aspect_ratio_info_present_flag) return false;
  if (s.aspect_ratio_idc == 255) {
    f->sar_w = s.sar_width, f->sar_h = s.sar_height;
  } else if (s.aspect_ratio_idc >= 1 && s.aspect_ratio_idc <= 16) {
    f->sar_w = avc_aspects[s.aspect_ratio_idc - 1].w, f->sar_h = avc_aspects[s.aspect_ratio_idc - 1].h;
  } else {
    return false;
  }
  f->rate = avc_rate(d->video);
  return f->rate > 0;
}

int ts_test_avc_mp_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t stream_max, uint32_t level_max)
{
  if (!avc_stream(d) || !has(info, MPEGTS_BIT_BIT_RATE) || info->bit_rate > stream_max) return 0;
  int level = avc_level_index(d->video.sps);
  return level >= 0 && avc_level_max_bitrate[level] <= level_max;
}

int ts_test_avc_mp_sd_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t)
{
  return ts_test_avc_mp_transport(d, info, 12000000, 10000000);
}

int ts_test_avc_mp_hd_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t)
{
  return ts_test_avc_mp_transport(d, info, 25000000, 20000000);
}

int ts_test_avc_bl_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t limit)
{
  return avc_stream(d) && has(info, MPEGTS_BIT_BIT_RATE) && info->bit_rate <= (limit ? limit : 3000000);
}

int ts_test_avc_cif15_transport(const mpegts_demux *d, const mpegts_info *info, uint32_t limit)
{
  if (!avc_stream(d) || !has(info, MPEGTS_BIT_BIT_RATE)) return 0;
  if (limit) return info->bit_rate <= limit;
  int level = avc_level_index(d->video.sps);
  return info->bit_rate <= 600000 && level >= 0 && avc_level_max_bitrate[level] <= 384000;
}

int ts_test_avc_constrained(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  return avc_stream(d) && d->video.sps.constraint_set1_flag;
}

int ts_test_avc_mp_sd_video(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  avc_facts f;
  return avc_facts_of(d, &f) && f.profile == 77 && (f.level == 0 || (f.level >= 2 && f.level <= 8)) &&
         in_sizes(sd_sizes, f.width, f.height) && in_sizes(wide_aspects, f.sar_w, f.sar_h) && f.rate <= 30;
}

int ts_test_avc_mp_hd_video(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  struct hd_format {
    uint32_t w, h, rate, frame_mbs_only;
  };
  static const hd_format formats[] = {
      {1920, 1080, 5994, 0}, {1920, 1080, 6000, 0}, {1920, 1080, 2997, 1}, {1920, 1080, 3000, 1},
      {1920, 1080, 2397, 1}, {1920, 1080, 2400, 1}, {1280, 720, 5994, 1},  {1280, 720, 6000, 1},
      {1280, 720, 2997, 1},  {1280, 720, 3000, 1},  {1280, 720, 2397, 1},  {1280, 720, 2400, 1},
      {1920, 1152, 5000, 1}, {1920, 1152, 5000, 0}, {1920, 1152, 2500, 1}};
  avc_facts f;
  if (!avc_facts_of(d, &f) || f.profile != 77 || f.level != 11 || !f.width || !f.height) return 0;
  uint32_t rate = hundredths(f.frame_mbs_only ? f.rate : f.rate * 2);
  for (const hd_format &h : formats)
    if (f.width <= h.w && f.height <= h.h && f.frame_mbs_only == h.frame_mbs_only && rate == h.rate) return 1;
  return 0;
}

int ts_test_avc_bl_cif30_video(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  avc_facts f;
  return avc_facts_of(d, &f) && f.profile == 66 && f.level <= 5 && in_sizes(cif30_sizes, f.width, f.height) &&
         in_sizes(wide_aspects, f.sar_w, f.sar_h) && f.rate <= 30;
}

// arg: an extra size allowed, width << 16 | height.
int ts_test_avc_bl_cif15_video(const mpegts_demux *d, const mpegts_info *, uint32_t arg)
{
  avc_facts f;
  if (!avc_facts_of(d, &f) || f.profile != 66 || f.level > 3) return 0;
  bool size = in_sizes(small_sizes, f.width, f.height) || (arg && f.width == arg >> 16 && f.height == (arg & 0xFFFF));
  return size && in_sizes(wide_aspects, f.sar_w, f.sar_h) && f.rate <= 30;
}

// --- AAC ---

const uint32_t nine_rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
const uint32_t sbr_rates[] = {8000, 11025, 12000, 16000, 22050, 24000};

struct aac_facts {
  const es_audio_info *a;
  uint32_t profile, rate, channels, max_rate;
  bool sbr;
};

bool aac_facts_of(const mpegts_demux *d, aac_facts *f)
{
  const es_audio_info *a = one_audio(d);
  if (!a || (a->stream_type != ES_TYPE_AAC_ADTS && a->stream_type != ES_TYPE_AAC_MPEG4) || !a->adts.syncword) return false;
  f->a = a;
  f->profile = a->adts.profile;
  f->rate = aac_sample_rates[a->adts.sampling_frequency_index & 15];
  f->channels = aac_channels[a->adts.channel_configuration & 7];
  f->max_rate = f->rate * f->channels * 6144 / 1024;
  f->sbr = a->adts_stats.sbr != 0;
  return true;
}

bool aac_lc_test(const mpegts_demux *d, uint32_t value, uint32_t max_channels)
{
  aac_facts f;
  return aac_facts_of(d, &f) && f.profile == 1 && !f.sbr && in_list(nine_rates, f.rate) && f.max_rate <= value &&
         f.channels >= 1 && f.channels <= max_channels;
}

int ts_test_aac(const mpegts_demux *d, const mpegts_info *, uint32_t value)
{
  return aac_lc_test(d, value ? value : 576000, 2);
}

int ts_test_aac_mult5(const mpegts_demux *d, const mpegts_info *, uint32_t) { return aac_lc_test(d, 1440000, 6); }

int ts_test_heaac_l2(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  aac_facts f;
  if (!aac_facts_of(d, &f) || f.profile != 1) return 0;
  bool rate = f.sbr ? in_list(sbr_rates, f.rate) : in_list(nine_rates, f.rate);
  return rate && f.max_rate <= 576000 && f.channels >= 1 && f.channels <= 2;
}

// arg: value << 4 | most channels.
int ts_test_aac_ltp_common(const mpegts_demux *d, const mpegts_info *, uint32_t arg)
{
  aac_facts f;
  if (!aac_facts_of(d, &f) || !((f.profile == 1 && !f.sbr) || f.profile == 3)) return 0;
  return in_list(nine_rates, f.rate) && f.max_rate <= (arg >> 4) && f.channels >= 1 && f.channels <= (arg & 15);
}

int ts_test_jp_aac(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const uint32_t rates[] = {32000, 44100, 48000};
  static const uint32_t channels[] = {1, 2, 4, 5, 6};
  aac_facts f;
  if (!aac_facts_of(d, &f)) return 0;
  const es_audio_info *a = f.a;
  // The broadcast limit holds per channel.
  return a->adts.id == 1 && a->adts.protection_absent == 0 && f.profile == 1 && !f.sbr &&
         a->adts_stats.max_raw_blocks == 0 && !a->adts_stats.variable_rate && in_list(rates, f.rate) &&
         in_list(channels, f.channels) && f.rate * 6144 / 1024 <= 384000;
}

// --- MPEG audio ---

int mpeg1_l3_test(const mpegts_demux *d, bool stereo)
{
  static const uint32_t rates[] = {32000, 44100, 48000};
  static const uint32_t kbits[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  const es_audio_info *a = one_audio(d);
  if (!a || a->stream_type != ES_TYPE_MPEG1_AUDIO || !a->mpeg1.syncword) return 0;
  const mpeg_audio_header &h = a->mpeg1;
  return h.layer == 1 && in_list(rates, mpeg_audio_sample_rate(h.id, h.sampling_frequency)) &&
         in_list(kbits, mpeg_audio_bitrate(h.id, h.layer, h.bitrate_index)) && (!stereo || h.mode == 0 || h.mode == 3);
}

int ts_test_mpeg1_l3(const mpegts_demux *d, const mpegts_info *, uint32_t) { return mpeg1_l3_test(d, false); }
int ts_test_mpeg1_l3_stereo(const mpegts_demux *d, const mpegts_info *, uint32_t) { return mpeg1_l3_test(d, true); }

bool l2_channels_fit(uint32_t mode, uint32_t center, uint32_t surround)
{
  if (center == 0 && surround == 0) return mode <= 3;
  if (mode == 2 || mode == 3) return center == 0 && surround == 3;
  if (mode > 1) return false;
  return (center == 0 && surround >= 1 && surround <= 3) || (center == 1 && surround <= 3) ||
         (center == 3 && surround <= 2);
}

int ts_test_mpeg2_l2(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const uint32_t rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  const es_audio_info *a = one_audio(d);
  if (!a) return 0;
  const mpeg_audio_header *h;
  uint32_t center = 0, surround = 0;
  if (a->stream_type == ES_TYPE_MPEG1_AUDIO && a->mpeg1.syncword && (a->mpeg1.layer == 2 || a->mpeg1.layer == 3)) {
    h = &a->mpeg1;
  } else if (a->stream_type == ES_TYPE_MPEG2_AUDIO && a->mpeg2.syncword && a->mc_read && a->mpeg2.layer == 2 &&
             !a->mc.mc_prediction_on && a->mc.dematrix_procedure != 3 && !a->mc.no_of_multi_lingual_ch) {
    h = &a->mpeg2;
    center = a->mc.center;
    surround = a->mc.surround;
  } else {
    return 0;
  }
  uint32_t kbit = mpeg_audio_bitrate(h->id, h->layer, h->bitrate_index);
  uint32_t top = h->layer == 3 ? 448 : 384;
  return l2_channels_fit(h->mode, center, surround) && h->protection_bit == 0 && h->emphasis == 0 &&
         in_list(rates, mpeg_audio_sample_rate(h->id, h->sampling_frequency)) && kbit >= 32 && kbit <= top;
}

// --- AC-3 ---

int ts_test_ac3(const mpegts_demux *d, const mpegts_info *, uint32_t)
{
  static const uint32_t kbits[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
  if (!d->audio.len) return 0;
  for (uint32_t i = 0; i < d->audio.len; i++) {
    const es_audio_info *a = audio_at(d, i);
    if (a->stream_type != ES_TYPE_AC3 || a->ac3_sync.syncword != 0x0B77) return 0;
    if (a->ac3_sync.fscod > 2 || a->ac3.acmod < 1 || a->ac3.acmod > 7) return 0;
    if (a->ac3_sync.frmsizecod / 2 >= 19 || a->ac3.bsmod > 1) return 0;
    if (kbits[a->ac3_sync.frmsizecod / 2] > 448) return 0;
  }
  return 1;
}

// --- the table ---

#define T(fn) {fn, 0}
#define TA(fn, arg) {fn, arg}
#define OFF(name) {name, {T(ts_test_false)}}
#define LTP(value, channels) TA(ts_test_aac_ltp_common, (value) << 4 | (channels))
#define MP_HD(name, audio) {name, {T(ts_test_avc_mp_hd_transport), T(ts_test_avc_mp_hd_video), audio}}
#define MP_SD(name, audio) {name, {T(ts_test_avc_mp_sd_transport), T(ts_test_avc_mp_sd_video), audio}}
#define CIF30(name, audio) \
  {name, {TA(ts_test_avc_bl_transport, 3000000), T(ts_test_avc_constrained), T(ts_test_avc_bl_cif30_video), audio}}

const dlna_ts_profile_row dlna_ts_profile_table[] = {
    {"MPEG_TS_JP", {T(ts_test_arib), T(ts_test_jp_transport), T(ts_test_jp_mpeg2_video), T(ts_test_jp_aac)}},
    OFF("MPEG_TS_SD_NA"),
    OFF("MPEG_TS_SD_NA"),
    OFF("MPEG_TS_HD_NA"),
    OFF("MPEG_TS_SD_EU"),
    OFF("MPEG_TS_SD_KO"),
    OFF("MPEG_TS_HD_KO"),
    {"MPEG_TS_MP_LL_AAC", {T(ts_test_ll_mpeg2_video), TA(ts_test_aac, 256000), T(ts_test_ll_transport)}},
    OFF("MPEG_TS_SD_NA_XAC3"),
    OFF("MPEG_TS_SD_NA_XAC3"),
    OFF("MPEG_TS_HD_NA_XAC3"),
    OFF("MPEG_TS_SD_KO_XAC3"),
    OFF("MPEG_TS_HD_KO_XAC3"),
    {"MPEG4_P2_TS_SP_AAC", {T(ts_test_mp4v_sp), TA(ts_test_aac, 576000), T(ts_test_mp4v_transport)}},
    {"MPEG4_P2_TS_SP_MPEG1_L3", {T(ts_test_mp4v_sp), T(ts_test_mpeg1_l3), T(ts_test_mp4v_transport)}},
    // The profile is tested first here as in the neighbouring rows, so that
    // ASP and CO streams are not taken for Simple Profile.
    {"MPEG4_P2_TS_SP_MPEG2_L2", {T(ts_test_mp4v_sp), T(ts_test_mpeg2_l2), T(ts_test_mp4v_transport)}},
    OFF("MPEG4_P2_TS_SP_AC3"),
    {"MPEG4_P2_TS_ASP_AAC", {T(ts_test_mp4v_asp), TA(ts_test_aac, 576000), T(ts_test_mp4v_transport)}},
    {"MPEG4_P2_TS_ASP_MPEG1_L3", {T(ts_test_mp4v_asp), T(ts_test_mpeg1_l3), T(ts_test_mp4v_transport)}},
    OFF("MPEG4_P2_TS_ASP_AC3"),
    OFF("MPEG4_P2_TS_CO_AC3"),
    {"MPEG4_P2_TS_CO_MPEG2_L2", {T(ts_test_mp4v_co), T(ts_test_mpeg2_l2), T(ts_test_mp4v_transport)}},
    MP_HD("AVC_TS_MP_HD_AAC_MULT5", T(ts_test_aac_mult5)),
    MP_HD("AVC_TS_MP_HD_HEAAC_L2", T(ts_test_heaac_l2)),
    MP_HD("AVC_TS_MP_HD_MPEG1_L3", T(ts_test_mpeg1_l3_stereo)),
    MP_HD("AVC_TS_MP_HD_AC3", T(ts_test_ac3)),
    MP_HD("AVC_TS_MP_HD_AAC_LTP", LTP(576000, 2)),
    MP_HD("AVC_TS_MP_HD_AAC_LTP_MULT5", LTP(2880000, 6)),
    MP_HD("AVC_TS_MP_HD_AAC_LTP_MULT7", LTP(4032000, 8)),
    MP_SD("AVC_TS_MP_SD_AAC_MULT5", T(ts_test_aac_mult5)),
    MP_SD("AVC_TS_MP_SD_HEAAC_L2", T(ts_test_heaac_l2)),
    OFF("AVC_TS_MP_SD_BSAC"),
    MP_SD("AVC_TS_MP_SD_MPEG1_L3", T(ts_test_mpeg1_l3_stereo)),
    MP_SD("AVC_TS_MP_SD_AC3", T(ts_test_ac3)),
    MP_SD("AVC_TS_MP_SD_AAC_LTP", LTP(576000, 2)),
    MP_SD("AVC_TS_MP_SD_AAC_LTP_MULT5", LTP(2880000, 6)),
    MP_SD("AVC_TS_MP_SD_AAC_LTP_MULT7", LTP(4032000, 8)),
    CIF30("AVC_TS_BL_CIF30_AAC_MULT5", T(ts_test_aac_mult5)),
    CIF30("AVC_TS_BL_CIF30_HEAAC_L2", T(ts_test_heaac_l2)),
    CIF30("AVC_TS_BL_CIF30_MPEG1_L3", T(ts_test_mpeg1_l3_stereo)),
    CIF30("AVC_TS_BL_CIF30_AC3", T(ts_test_ac3)),
    {"AVC_TS_BL_CIF30_AAC_940",
     {TA(ts_test_avc_bl_transport, 940000), T(ts_test_avc_constrained), T(ts_test_avc_bl_cif30_video),
      TA(ts_test_aac, 128000)}},
    CIF30("AVC_TS_BL_CIF30_AAC_LTP", LTP(576000, 2)),
    CIF30("AVC_TS_BL_CIF30_AAC_LTP_MULT5", LTP(2880000, 6)),
    {"AVC_TS_BL_CIF15_AAC",
     {T(ts_test_avc_cif15_transport), T(ts_test_avc_constrained), T(ts_test_avc_bl_cif15_video),
      T(ts_test_avc_cif15_transport), T(ts_test_avc_constrained), TA(ts_test_aac, 576000)}},
    {"AVC_TS_BL_CIF15_AAC_540",
     {TA(ts_test_avc_cif15_transport, 540000), T(ts_test_avc_constrained),
      TA(ts_test_avc_bl_cif15_video, 240u << 16 | 135u), TA(ts_test_aac, 128000)}},
    {"AVC_TS_BL_CIF15_AAC_LTP",
     {T(ts_test_avc_cif15_transport), T(ts_test_avc_constrained), T(ts_test_avc_bl_cif15_video),
      T(ts_test_avc_cif15_transport), T(ts_test_avc_constrained), T(ts_test_avc_bl_cif15_video), LTP(576000, 2)}},
    OFF("AVC_TS_BL_CIF15_BSAC"),
    {nullptr, {T(ts_test_false)}},
};

#undef T
#undef TA
#undef OFF
#undef LTP
#undef MP_HD
#undef MP_SD
#undef CIF30

static_assert(sizeof dlna_ts_profile_table / sizeof dlna_ts_profile_table[0] == 49, "48 rows and the sentinel");

bool row_passes(const dlna_ts_profile_row &row, const mpegts_demux *d, const mpegts_info *info)
{
  for (const ts_test &t : row.tests) {
    if (!t.fn) break;
    if (!t.fn(d, info, t.arg)) return false;
  }
  return true;
}

}  // namespace

extern "C" int dlna_ts_profile_find(const mpegts_demux *demux, const mpegts_info *info, sys_stralloc_rec *profile)
{
  for (const dlna_ts_profile_row *row = dlna_ts_profile_table; row->name; row++)
    if (row_passes(*row, demux, info)) return sys_stralloc_cats(profile, row->name);
  return 0;
}
