// The program-stream scan: pack and system headers, the sequence and audio
// headers of up to five streams of each kind and the first video PTS from
// the head of the file, then the last video PTS from its tail.
#include <tarvo_util/sys_owner.h>

#include <algorithm>
#include <iterator>

#include "es_headers.h"
#include "mpegps_impl.h"

namespace {

using namespace mpegps;

constexpr uint32_t VIDEO_SEQUENCE_HEADER = 0xB3;
constexpr uint32_t VARIABLE_BIT_RATE = 0x3FFFF;
constexpr uint32_t BIT_RATE_UNIT = 400;
constexpr uint64_t PTS_WRAP = uint64_t(1) << 33;
constexpr uint32_t TICKS_PER_MS = 90;

// Frames per second x 1000 by frame_rate_code.
constexpr uint32_t kFrameRates[16] = {0, 23976, 24000, 25000, 29970, 30000, 50000, 59940, 60000};
// AC-3 kbit/s by frmsizecod / 2.
constexpr uint32_t kAc3Rates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};

struct scan {
  mpegps_info *info;
  stream s;
  own::memalloc packet;
  uint64_t first_pts = MPEG_PTS_NONE;

  scan(mpegps_info *i, int fd) : info(i), s(fd) {}

  // The length and the bytes of the PES packet whose stream id was just read.
  bool read_packet()
  {
    unsigned char len[2];
    if (!s.fill(len, 2)) return false;
    uint32_t n = (uint32_t(len[0]) << 8) | len[1];
    if (!sys_memalloc_ready(&packet, std::max(n, TAG_MPEGPS_PACKET_RESERVE))) {
      s.failed = true;
      return false;
    }
    packet.len = 0;
    if (!s.fill(packet.buf, n)) return false;
    packet.len = n;
    return true;
  }
};

// Offset of 00 00 01 code in p[0, len) with need bytes after the code, or
// UINT32_MAX.  Data shorter than a start code is not walked.
uint32_t find_code(const unsigned char *p, uint32_t len, uint8_t code, uint32_t need)
{
  if (len < 4 + need) return UINT32_MAX;
  for (uint32_t i = 0; i <= len - 4 - need; i++)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == code) return i;
  return UINT32_MAX;
}

// Where the payload of an MPEG-2 PES packet begins: after the header when
// the packet has one, else at its first byte; len when the header does not
// fit.
uint32_t mpeg2_payload(const unsigned char *p, uint32_t len)
{
  if (len == 0 || (p[0] >> 6) != 2) return 0;
  if (len < 3) return len;
  return std::min(len, 3u + p[2]);
}

// The same for an MPEG-1 packet: stuffing, an optional buffer-size field,
// then a PTS, a PTS and DTS or the byte 0x0F; len for anything else.
uint32_t mpeg1_payload(const unsigned char *p, uint32_t len)
{
  uint32_t i = 0;
  while (i < len && p[i] == 0xFF) i++;
  if (i < len && (p[i] >> 6) == 1) i += 2;
  if (i >= len) return len;
  uint32_t top = p[i] >> 4;
  uint32_t field = top == 2 ? 5 : top == 3 ? 10 : p[i] == 0x0F ? 1 : 0;
  if (!field) return len;
  return std::min(len, i + field);
}

bool has_video(const mpegps_info *info, uint8_t id)
{
  for (uint32_t i = 0; i < info->video_count; i++)
    if (info->video[i].stream_id == id) return true;
  return false;
}

bool has_audio(const mpegps_info *info, uint8_t id)
{
  for (uint32_t i = 0; i < info->audio_count; i++)
    if (info->audio[i].stream_id == id) return true;
  return false;
}

void video_header(mpegps_info *info, uint8_t id, const unsigned char *p, uint32_t len)
{
  if (info->video_count >= MPEGPS_SLOT_COUNT || has_video(info, id)) return;
  uint32_t at = find_code(p, len, VIDEO_SEQUENCE_HEADER, 8);
  if (at == UINT32_MAX) return;
  const unsigned char *h = p + at + 4;
  mpegps_video_slot &v = info->video[info->video_count++];
  v.stream_id = id;
  v.width = uint16_t((h[0] << 4) | (h[1] >> 4));
  v.height = uint16_t(((h[1] & 0x0F) << 8) | h[2]);
  v.aspect_ratio_information = uint8_t(h[3] >> 4);
  v.frame_rate = kFrameRates[h[3] & 0x0F];
  uint32_t rate = (uint32_t(h[4]) << 10) | (uint32_t(h[5]) << 2) | (h[6] >> 6);
  v.bit_rate = rate == VARIABLE_BIT_RATE ? 0 : rate * BIT_RATE_UNIT;
}

void mpeg_audio_header(mpegps_info *info, uint8_t id, const unsigned char *p, uint32_t len)
{
  if (info->audio_count >= MPEGPS_SLOT_COUNT || has_audio(info, id)) return;
  uint32_t i = info->system_kind == MPEGPS_KIND_MPEG1 ? mpeg1_payload(p, len) : mpeg2_payload(p, len);
  while (len >= 4 && i <= len - 4 && !(p[i] == 0xFF && (p[i + 1] & 0xF0) == 0xF0)) i++;
  if (len < 4 || i > len - 4) return;
  uint32_t version = (p[i + 1] >> 3) & 1, layer_code = (p[i + 1] >> 1) & 3;
  if (layer_code < 2) return;  // Layer III and the reserved value
  uint32_t kbps = mpeg_audio_bitrate(version, layer_code, p[i + 2] >> 4);
  uint32_t rate = mpeg_audio_sample_rate(version, (p[i + 2] >> 2) & 3);
  if (!kbps || !rate) return;
  mpegps_audio_slot &a = info->audio[info->audio_count++];
  a.stream_id = id;
  a.kind = MPEGPS_AUDIO_MPEG;
  a.layer = 4 - layer_code;
  a.bit_rate = kbps * 1000;
  a.sample_rate = rate;
  a.channels = (p[i + 3] >> 6) == 3 ? 1 : 2;
}

void ac3_header(mpegps_info *info, uint8_t sub, const unsigned char *p, uint32_t len)
{
  uint32_t i = 0;
  while (i + 5 <= len && !(p[i] == 0x0B && p[i + 1] == 0x77)) i++;
  if (i + 5 > len) return;
  uint32_t frmsizecod = p[i + 4] & 0x3F;
  if (frmsizecod >= 2 * std::size(kAc3Rates)) return;
  mpegps_audio_slot &a = info->audio[info->audio_count++];
  a.stream_id = sub;
  a.kind = MPEGPS_AUDIO_AC3;
  a.bit_rate = kAc3Rates[frmsizecod / 2] * 1000;
}

void lpcm_header(mpegps_info *info, uint8_t sub, const unsigned char *p, uint32_t len)
{
  static const uint32_t kBits[4] = {16, 20, 24, 0};
  if (len < 5 || !kBits[p[4] >> 6]) return;
  mpegps_audio_slot &a = info->audio[info->audio_count++];
  a.stream_id = sub;
  a.kind = MPEGPS_AUDIO_LPCM;
  a.channels = (p[4] & 7u) + 1;
  a.bit_rate = a.channels * 48000u * kBits[p[4] >> 6];
}

// Private stream 1 carries one substream per packet, named by its first
// payload byte: AC-3 0x80-0x87, LPCM 0xA0-0xA7.
void private_header(mpegps_info *info, const unsigned char *p, uint32_t len)
{
  if (info->system_kind != MPEGPS_KIND_MPEG2 || info->audio_count >= MPEGPS_SLOT_COUNT) return;
  uint32_t at = mpeg2_payload(p, len);
  if (at >= len) return;
  uint8_t sub = p[at];
  if (has_audio(info, sub)) return;
  if (sub >= 0x80 && sub <= 0x87) ac3_header(info, sub, p + at + 1, len - at - 1);
  if (sub >= 0xA0 && sub <= 0xA7) lpcm_header(info, sub, p + at + 1, len - at - 1);
}

void packet_seen(scan &k, uint8_t id)
{
  mpegps_info *info = k.info;
  const unsigned char *p = k.packet.buf;
  uint32_t len = k.packet.len;
  if (is_video_id(id)) video_header(info, id, p, len);
  if (is_mpeg_audio_id(id)) mpeg_audio_header(info, id, p, len);
  if (id == PRIVATE_STREAM_1) private_header(info, p, len);
  uint64_t pts;
  if (info->video_count && id == info->video[0].stream_id && k.first_pts == MPEG_PTS_NONE &&
      mpeg_pes_header_pts(p, len, &pts))
    k.first_pts = pts;
}

// The first pack header and its kind; for MPEG-1 the mux rate.
bool first_pack(scan &k, uint64_t *noted)
{
  uint8_t code = 0;
  do
    if (!mpeg_start_code_find(k.s, TAG_MPEGPS_PACK_SEARCH_MAX, &code)) return false;
  while (code != PACK_START);
  *noted = k.s.pos;
  unsigned char h[8];
  if (!k.s.fill(h, 1)) return false;
  if ((h[0] >> 6) == 1) {
    k.info->system_kind = MPEGPS_KIND_MPEG2;
    return true;
  }
  if ((h[0] >> 6) != 0 || !k.s.fill(h + 1, 7)) return false;
  k.info->system_kind = MPEGPS_KIND_MPEG1;
  k.info->pack_rate = ((uint32_t(h[5]) & 0x7F) << 15) | (uint32_t(h[6]) << 7) | (h[7] >> 1);
  return true;
}

bool head(scan &k)
{
  uint64_t noted = 0;
  if (!k.s.seek(0) || !first_pack(k, &noted)) return false;
  bool sized = false;
  uint8_t code;
  while (k.s.pos <= TAG_MPEGPS_HEAD_MAX && mpeg_start_code_find(k.s, TAG_MPEGPS_HEAD_MAX, &code)) {
    if (code == PACK_START) {
      if (!sized) k.info->pack_size = uint32_t(std::min<uint64_t>(k.s.pos - noted, UINT32_MAX));
      sized = true;
    } else if (code == SYSTEM_HEADER) {
      unsigned char h[6];
      if (k.info->variable_rate) continue;
      if (!k.s.fill(h, sizeof h)) break;
      k.info->variable_rate = 1 - ((h[5] >> 1) & 1u);
    } else if (mpeg_is_pes_stream_id(code)) {
      if (!k.read_packet()) break;
      packet_seen(k, code);
    }
  }
  return !k.s.failed;
}

// How far the stream's clock ran from a to b, across the 33-bit wrap; a
// little before a counts as negative.
int64_t pts_span(uint64_t a, uint64_t b)
{
  uint64_t d = (b - a) & (PTS_WRAP - 1);
  return d > PTS_WRAP - TAG_MPEGPS_PTS_BACK_MAX ? int64_t(d) - int64_t(PTS_WRAP) : int64_t(d);
}

// Passes the body of the pack header whose start code was just read.
bool pass_pack(stream &s)
{
  unsigned char h[10];
  if (!s.fill(h, 1)) return false;
  if ((h[0] >> 6) == 0) return s.skip(7);
  if ((h[0] >> 6) != 1 || !s.fill(h + 1, 9)) return false;
  return s.skip(h[9] & 7u);
}

// Walks the tail from its first pack header packet by packet, so that
// bytes that look like a start code inside a payload are never taken for
// one; where the next unit is not where a length said, the walk picks up at
// the next pack header.  Units that begin at or after until were walked
// by the shorter tail before.  The longest span from the first PTS found
// in the first video stream's packets goes to *best.
bool tail(scan &k, uint64_t from, uint64_t until, int64_t *best, bool *found)
{
  stream &s = k.s;
  uint8_t id = k.info->video[0].stream_id, code = 0;
  if (!s.seek(from)) return false;
  bool in_step = false;
  for (;;) {
    if (!in_step) {
      do
        if (!mpeg_start_code_find(s, 0, &code)) return !s.failed;
      while (code != PACK_START);
    }
    if (s.pos - 4 >= until) return true;
    bool ok = true;
    uint64_t pts;
    if (code == PACK_START) {
      ok = pass_pack(s);
    } else if (code == id) {
      ok = k.read_packet();
      if (ok && mpeg_pes_header_pts(k.packet.buf, k.packet.len, &pts) && pts != MPEG_PTS_NONE) {
        int64_t span = pts_span(k.first_pts, pts);
        if (!*found || span > *best) *best = span;
        *found = true;
      }
    } else if (code == SYSTEM_HEADER || mpeg_is_pes_stream_id(code)) {
      unsigned char len[2];
      ok = s.fill(len, 2) && s.skip((uint32_t(len[0]) << 8) | len[1]);
    }
    unsigned char next[4];
    if (!ok || !s.fill(next, 4)) return !s.failed;
    in_step = next[0] == 0 && next[1] == 0 && next[2] == 1;
    code = next[3];
  }
}

bool last_pts(scan &k, const sys_file_stat_rec *st)
{
  uint64_t size = st->size, until = UINT64_MAX;
  for (uint32_t t = 1; t <= TAG_MPEGPS_TAIL_TRIES; t++) {
    uint64_t span = uint64_t(t) * TAG_MPEGPS_TAIL_STEP, from = size > span ? size - span : 0;
    int64_t best = 0;
    bool found = false;
    if (!tail(k, from, until, &best, &found)) return false;
    if (found) {
      int64_t ms = best / TICKS_PER_MS;
      k.info->duration = ms <= 0 ? 1 : uint32_t(std::min<int64_t>(ms, UINT32_MAX));
      return true;
    }
    if (!from) return false;  // the whole file was searched
    until = from;
  }
  return false;
}

}  // namespace

extern "C" int mpegps_reader(mpegps_info *info, int file, const sys_file_stat_rec *st, int quick)
{
  scan k(info, file);
  if (!head(k) || k.first_pts == MPEG_PTS_NONE || !info->video_count) return 0;
  if (quick) return 1;
  return last_pts(k, st);
}
