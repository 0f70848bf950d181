// MPEG audio frames: the first three consistent frames behind an ID3v2
// tag, the Xing or VBRI header, the frame count, duration and average
// bitrate.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>

#include <algorithm>
#include <cstring>

#include "mp3_impl.h"

namespace {

using mp3::file_window;

enum { kVersion25 = 0, kVersion2 = 2, kVersion1 = 3 };
enum { kLayer3 = 1, kLayer2 = 2, kLayer1 = 3 };

// kbit/s by bitrate index: MPEG-1 Layer I, II, III, then MPEG-2/2.5 Layer
// I and Layers II and III.
const uint16_t kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

const uint32_t kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

uint32_t bitrate_of(uint32_t version, uint32_t layer, uint32_t index)
{
  uint32_t row = version == kVersion1 ? 3 - layer : (layer == kLayer1 ? 3 : 4);
  return kBitrates[row][index] * 1000u;
}

// Samples a frame carries; a frame's bytes are samples / 8 × bitrate /
// sample rate.
uint32_t samples_per_frame(const mp3_header &h)
{
  if (h.layer == kLayer1) return 384;
  if (h.layer == kLayer3 && h.version != kVersion1) return 576;
  return 1152;
}

uint32_t frame_length(const mp3_header &h, uint32_t bitrate, uint32_t padding)
{
  if (h.layer == kLayer1) return (12 * bitrate / h.sample_rate + padding) * 4;
  return samples_per_frame(h) / 8 * bitrate / h.sample_rate + padding;
}

// The header in b, or false for one that no stream can have.
bool header_decode(const unsigned char *b, mp3_header *h)
{
  uint32_t version = b[1] >> 3 & 3, layer = b[1] >> 1 & 3, rate = b[2] >> 4, freq = b[2] >> 2 & 3;
  if (version == 1 || layer == 0 || rate == 0 || rate == 15 || freq == 3) return false;
  *h = mp3_header{};
  h->version = version;
  h->layer = layer;
  h->crc = (b[1] & 1) == 0;
  h->bitrate = bitrate_of(version, layer, rate);
  h->sample_rate = kSampleRates[version][freq];
  h->padding = b[2] >> 1 & 1;
  h->private_bit = b[2] & 1;
  h->channel_mode = b[3] >> 6;
  h->mode_extension = b[3] >> 4 & 3;
  h->copyright = b[3] >> 3 & 1;
  h->original = b[3] >> 2 & 1;
  h->emphasis = b[3] & 3;
  h->frame_length = frame_length(*h, h->bitrate, h->padding);
  return true;
}

// A frame sync (0xFF and three set bits) and a valid header at b.
bool sync_header(const unsigned char *b, mp3_header *h)
{
  return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && header_decode(b, h);
}

// Frames of one stream agree in all but bitrate, padding and the mode
// extension, which joint stereo sets frame by frame.
bool same_stream(const mp3_header &a, const mp3_header &b)
{
  return a.version == b.version && a.layer == b.layer && a.crc == b.crc && a.sample_rate == b.sample_rate &&
         a.private_bit == b.private_bit && a.channel_mode == b.channel_mode && a.copyright == b.copyright &&
         a.original == b.original && a.emphasis == b.emphasis;
}

struct scan {
  file_window w;
  mp3_info *info;
  uint64_t first = 0;  // offset of the first confirmed frame
  uint64_t next = 0;   // where the frame after the last one found starts
  bool one_rate = true;  // every frame found so far has the first one's bitrate
  // Frames counted at another sample rate or frame size than the first
  // one's (files joined from two recordings), and the time they take.
  uint64_t foreign = 0, foreign_ns = 0;
  // The scan reads a few stretches far apart: readahead would fetch what
  // lies between them (and, once it has grown, the whole file).  The
  // reader's file is its caller's, opened without advice, and left so.
  scan(int file, mp3_info *i) : w(file, i->file_size), info(i) { w.random_reads(true); }
  ~scan() { w.random_reads(false); }
  scan(const scan &) = delete;
  scan &operator=(const scan &) = delete;
};

// The next frame sync (0xFF and three set bits) at or after pos with a
// whole header before the end of the file, starting before end.
bool sync_find(file_window &w, uint64_t pos, uint64_t end, uint64_t *found, mp3_header *h)
{
  while (pos < end) {
    uint32_t got;
    const unsigned char *b = w.at(pos, 4, &got);
    if (!b || got < 4) return false;
    uint32_t starts = uint32_t(std::min<uint64_t>(got - 3, end - pos));
    for (uint32_t i = 0; i < starts; i++) {
      auto *q = static_cast<const unsigned char *>(std::memchr(b + i, 0xFF, starts - i));
      if (!q) break;
      i = uint32_t(q - b);
      if ((b[i + 1] & 0xE0) == 0xE0 && header_decode(b + i, h)) {
        *found = pos + i;
        return true;
      }
    }
    pos += starts;
  }
  return false;
}

// A frame count and byte count are believed when the mean frame they
// give could exist in this stream and the bytes fit in the file.
bool vbr_plausible(const scan &s, uint32_t frames, uint32_t bytes)
{
  const mp3_header &h = s.info->header;
  if (!frames || !bytes || bytes > s.info->file_size - std::min(s.info->file_size, s.first)) return false;
  uint64_t smallest = frame_length(h, bitrate_of(h.version, h.layer, 1), 0);
  uint64_t largest = frame_length(h, bitrate_of(h.version, h.layer, 14), 1);
  return smallest * frames <= bytes && largest * frames >= bytes;
}

void vbr_set(scan &s, uint32_t frames, uint32_t bytes)
{
  if (!vbr_plausible(s, frames, bytes)) return;
  s.info->vbr = 1;
  s.info->frames = frames;
  s.info->audio_bytes = bytes;
}

// VBRI stands 32 bytes past the header; Xing after the side information.
bool vbr_read(scan &s, uint64_t frame)
{
  const mp3_header &h = s.info->header;
  unsigned char b[16];
  if (!s.w.read(frame + 36, b, 4)) return false;
  if (std::memcmp(b, "VBRI", 4) == 0) {
    if (!s.w.read(frame + 46, b, 8)) return false;
    vbr_set(s, mp3::big32(b + 4), mp3::big32(b));
    if (s.info->vbr) return true;
  }
  bool mono = h.channel_mode == 3;
  uint32_t side = h.version == kVersion1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  uint64_t at = frame + 4 + side + (h.crc ? 2 : 0);
  if (!s.w.read(at, b, 4)) return false;
  if (std::memcmp(b, "Xing", 4) != 0) return true;
  if (!s.w.read(at + 4, b, 12)) return false;
  if ((mp3::big32(b) & 3) == 3) vbr_set(s, mp3::big32(b + 4), mp3::big32(b + 8));
  return true;
}

// Where the audio may begin: after the ID3v2 tags at the start, however
// many there are, each passed by its declared size unread.
bool id3v2_skip(file_window &w, uint64_t *pos)
{
  for (*pos = 0;;) {
    uint32_t got;
    const unsigned char *b = w.at(*pos, 10, &got);
    if (!b) return false;
    if (got < 10 || std::memcmp(b, "ID3", 3) != 0) return got >= 3 || *pos > 0;
    *pos = mp3::id3v2_end(*pos, b);
  }
}

// Three frames in a row of one stream; a frame that does not fit the
// first starts the count again from itself.
bool frames_confirm(scan &s)
{
  uint64_t pos;
  if (!id3v2_skip(s.w, &pos)) return false;
  uint64_t limit = pos + TAG_MP3_SYNC_SEARCH_MAX;
  for (int count = 0; count < 3;) {
    uint64_t at;
    mp3_header h;
    if (!sync_find(s.w, pos, limit, &at, &h)) {
      s.info->search_stopped = limit < s.info->file_size;
      return false;
    }
    if (count && same_stream(h, s.info->header)) {
      count++;
      s.one_rate = s.one_rate && h.bitrate == s.info->header.bitrate;
    } else {
      s.one_rate = true;
      s.info->header = h;
      s.info->non_audio_bytes = at + 4;
      s.first = at;
      count = 1;
      if (!s.info->vbr && !vbr_read(s, at)) return false;
    }
    pos = at + h.frame_length;
  }
  s.next = pos;
  return true;
}

// A frame found by searching is believed when it is of the first frame's
// kind and a frame header (or the end of the audio) follows it.
bool resync_fits(scan &s, const mp3_header &h, uint64_t at, uint64_t end)
{
  // Another rate may follow where two recordings were joined.
  if (h.layer != s.info->header.layer) return false;
  uint64_t next = at + h.frame_length;
  if (next >= end) return next == end;
  uint32_t got;
  const unsigned char *b = s.w.at(next, 4, &got);
  mp3_header n;
  return b && got >= 4 && sync_header(b, &n);
}

// The frame at pos, or the next believable one after it, wholly before end.
bool frame_next(scan &s, uint64_t pos, uint64_t end, uint64_t *at, mp3_header *h)
{
  uint32_t got;
  const unsigned char *b = s.w.at(pos, 4, &got);
  if (!b) return false;
  if (got >= 4 && sync_header(b, h)) {
    *at = pos;
    return pos + h->frame_length <= end;
  }
  for (; sync_find(s.w, pos, end, at, h); pos = *at + 1)
    if (*at + h->frame_length <= end && resync_fits(s, *h, *at, end)) return true;
  return false;
}

// Frames counted: all of them, and those at another sample rate or frame
// size than the first frame's (as in scan) with the time they take.
struct run {
  uint64_t frames = 0;
  bool one_rate = true;  // all of them at the first frame's bitrate and sample rate
  uint64_t foreign = 0, foreign_ns = 0;
};

// n frames of h's kind counted.
void frames_add(run *r, const mp3_header &first, const mp3_header &h, uint64_t n)
{
  r->frames += n;
  bool same_time = h.sample_rate == first.sample_rate && samples_per_frame(h) == samples_per_frame(first);
  r->one_rate = r->one_rate && h.bitrate == first.bitrate && same_time;
  if (!same_time) {
    r->foreign += n;
    r->foreign_ns += n * (uint64_t(samples_per_frame(h)) * 1000000000u / h.sample_rate);
  }
}

// Frames stepped through from s.next to end, header to header.
void frames_step(scan &s, uint64_t end, run *r)
{
  uint64_t at;
  mp3_header h;
  while (frame_next(s, s.next, end, &at, &h)) {
    frames_add(r, s.info->header, h, 1);
    s.next = at + h.frame_length;
  }
}

// Frames of h's rate in bytes, to the nearest whole one.
uint64_t frames_in(const mp3_header &h, uint64_t bytes)
{
  uint64_t bits_per_frame = samples_per_frame(h) * uint64_t(h.bitrate);
  return uint64_t(((unsigned __int128)bytes * 8 * h.sample_rate + bits_per_frame / 2) / bits_per_frame);
}

// Where frame k after a frame of h's kind at `at` starts when every frame
// has its rate, but for padding.
uint64_t grid_at(uint64_t at, const mp3_header &h, uint64_t k)
{
  unsigned __int128 bits = (unsigned __int128)k * samples_per_frame(h) * h.bitrate;
  return at + uint64_t(bits / (8 * uint64_t(h.sample_rate)));
}

// A header of a's stream and bitrate at b.
bool rate_header(const unsigned char *b, const mp3_header &a, mp3_header *h)
{
  return sync_header(b, h) && same_stream(*h, a) && h->bitrate == a.bitrate;
}

// The bytes that hold two frames of a's kind, the first starting near
// predicted: an encoder pads frames so that they stray from their exact
// share of the rate by less than a slot, which is allowed each way.
uint64_t span_from(const mp3_header &a, uint64_t predicted, uint32_t *reach, uint32_t *n)
{
  *reach = a.layer == kLayer1 ? 8 : 2;
  *n = 2 * *reach + frame_length(a, a.bitrate, 1) + 4;
  return predicted - std::min<uint64_t>(predicted, *reach);
}

// Two frames in a row of a's stream and bitrate, the first starting near
// predicted.  Two, so that a stream of changing rate seldom shows them by
// chance.  One read, on its own; *found is where the first starts.
bool grid_pair(scan &s, const mp3_header &a, uint64_t predicted, uint64_t end, uint64_t *found)
{
  uint32_t reach, n;
  uint64_t from = span_from(a, predicted, &reach, &n);
  unsigned char b[2048];  // past the longest frame there is, 1729 bytes, and the reach
  if (n > sizeof b || from >= end || end - from < n || !s.w.read_direct(from, b, n)) return false;
  for (uint32_t i = 0; i <= 2 * reach; i++) {
    mp3_header h, next;
    if (rate_header(b + i, a, &h) && i + h.frame_length + 4 <= n && rate_header(b + i + h.frame_length, a, &next)) {
      *found = from + i;
      return true;
    }
  }
  return false;
}

// The header of the frame at s.next.
bool header_here(scan &s, mp3_header *h)
{
  uint32_t got;
  const unsigned char *b = s.w.at(s.next, 4, &got);
  return b && got >= 4 && sync_header(b, h);
}

// Where probe i of those spread from `from` to body_end aims.
uint64_t probe_target(uint64_t from, uint64_t body_end, uint64_t i)
{
  return from + (body_end - from) * i / TAG_MP3_RATE_PROBES;
}

// Every point's bytes, where a constant rate from the first puts them, and
// the tail's asked for at once.
void probes_prefetch(scan &s, const mp3_header &a, uint64_t body_end)
{
  for (uint64_t i = 1; i <= TAG_MP3_RATE_PROBES; i++) {
    uint32_t reach, n;
    uint64_t target = probe_target(s.next, body_end, i);
    uint64_t from = span_from(a, grid_at(s.next, a, frames_in(a, target - s.next)), &reach, &n);
    s.w.prefetch(from, n);
  }
  s.w.prefetch(body_end, s.info->file_size - std::min(s.info->file_size, body_end));
}

// The frames from s.next to body_end, at points spread over them: where two
// frames of the last known frame's rate stand where that rate puts them,
// the frames before are that many of that rate; a stretch up to a point
// that fails is counted frame by frame, with readahead, and its last frame
// gives the rate to look for next.  Each point costs one small read.  False
// when a stretch ends in bytes that are no frame.
bool frames_probe(scan &s, uint64_t body_end, uint64_t audio_end, run *r)
{
  uint64_t from = s.next;
  mp3_header a;
  bool anchored = header_here(s, &a);
  if (anchored) probes_prefetch(s, a, body_end);
  for (uint64_t i = 1; i <= TAG_MP3_RATE_PROBES && anchored; i++) {
    uint64_t target = probe_target(from, body_end, i), found;
    if (target <= s.next) continue;
    uint64_t k = frames_in(a, target - s.next);
    if (k && grid_pair(s, a, grid_at(s.next, a, k), audio_end, &found)) {
      frames_add(r, s.info->header, a, k);
      s.next = found;
      continue;
    }
    s.w.random_reads(false);
    frames_step(s, target, r);
    s.w.random_reads(true);
    anchored = header_here(s, &a);
  }
  return anchored;
}

// Every frame counted, stepping from header to header, but where a stream
// that starts at one bitrate can be probed: its last frames are counted
// one by one after the probes.
void frames_count(scan &s, uint64_t audio_end)
{
  mp3_info &info = *s.info;
  const mp3_header &h = info.header;
  run r;
  r.frames = 3;
  r.one_rate = s.one_rate;
  // The start in one request, not a window at a time.
  uint64_t sample_end = std::min(audio_end, s.first + TAG_MP3_RATE_SAMPLE);
  s.w.prefetch(s.next, sample_end - std::min(sample_end, s.next));
  frames_step(s, sample_end, &r);
  uint64_t tail = uint64_t(TAG_MP3_TAIL_FRAMES) * h.frame_length;
  // Points a few frames apart would cost more than the frames.
  uint64_t least = tail + uint64_t(TAG_MP3_RATE_PROBES) * 4 * h.frame_length;
  bool tail_only = r.one_rate && s.next < audio_end && audio_end - s.next > least &&
                   frames_probe(s, audio_end - tail, audio_end, &r);
  // Every frame to the end, read ahead, or only the tail.
  if (!tail_only) s.w.random_reads(false);
  frames_step(s, audio_end, &r);
  info.frames = uint32_t(std::min<uint64_t>(r.frames, UINT32_MAX));
  s.foreign = std::min<uint64_t>(r.foreign, info.frames);
  s.foreign_ns = r.foreign_ns;
}

// An ID3v1 tag takes the last 128 bytes; they are read on their own, so
// that the frames after the first stay buffered.
bool id3v1_probe(file_window &w, uint64_t size, bool *found)
{
  *found = false;
  if (size < 128) return true;
  unsigned char b[3];
  if (!w.read_direct(size - 128, b, 3)) return false;
  *found = std::memcmp(b, "TAG", 3) == 0;
  return true;
}

uint32_t round_thousand(uint64_t v) { return uint32_t(std::min<uint64_t>((v + 500) / 1000 * 1000, UINT32_MAX)); }

}  // namespace

extern "C" int mp3_info_read(int file, const sys_file_stat_rec *st, int count_off, mp3_info *info)
{
  *info = mp3_info{};
  info->file_size = st->size;
  scan s(file, info);
  if (!frames_confirm(s)) return 0;
  if (!info->vbr) {
    bool v1;
    if (!id3v1_probe(s.w, info->file_size, &v1)) return 0;
    if (v1) info->non_audio_bytes += 128;
    if (info->file_size <= info->non_audio_bytes) return 0;
    info->audio_bytes = info->file_size - info->non_audio_bytes;
    info->frames = 3;
    if (!count_off) frames_count(s, info->file_size - (v1 ? 128 : 0));
  }
  if (count_off) return 1;
  mp3_header &h = info->header;
  uint32_t spf = samples_per_frame(h);
  if (s.foreign) {
    // Each part of a joined file at its own rate.
    auto own = (unsigned __int128)(info->frames - s.foreign) * spf * 1000000000u / h.sample_rate;
    uint64_t ns = uint64_t(std::min<unsigned __int128>(own + s.foreign_ns, UINT64_MAX));
    info->duration_ms = ns / 1000000u;
    unsigned __int128 bits = (unsigned __int128)info->audio_bytes * 8 * 1000000000u;
    h.bitrate = round_thousand(uint64_t(std::min<unsigned __int128>(bits / std::max<uint64_t>(ns, 1), UINT64_MAX - 1000)));
    return 1;
  }
  info->duration_ms = uint64_t(info->frames) * spf * 1000 / h.sample_rate;
  unsigned __int128 bytes_rate = (unsigned __int128)info->audio_bytes * h.sample_rate * 8;
  uint64_t frame_rate = uint64_t(info->frames) * spf;
  h.bitrate = round_thousand(uint64_t(std::min<unsigned __int128>(bytes_rate / frame_rate, UINT64_MAX - 1000)));
  return 1;
}
