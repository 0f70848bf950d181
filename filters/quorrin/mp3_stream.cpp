// The MPEG audio stream parser: opening (wrappers, tags, sync, VBR
// headers), duration, seek positions and frame delivery.
#include "mp3_stream.h"
#include "quorrin_limits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

const int kBitrates[2][3][16] = {
  // MPEG-1: Layer I, II, III
  {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
   {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
   {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
  // MPEG-2 and 2.5
  {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
   {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
   {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// a * b / c without overflow for the stream's sizes; 0 when c is 0.
int64_t mul_div(int64_t a, int64_t b, int64_t c)
{
  if (c == 0) return 0;
  __int128 r = static_cast<__int128>(a) * b / c;
  if (r > INT64_MAX) return INT64_MAX;
  if (r < INT64_MIN) return INT64_MIN;
  return int64_t(r);
}

uint32_t le32(const BYTE *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t be16(const BYTE *p) { return uint32_t(p[0]) << 8 | p[1]; }

void put16(std::vector<BYTE> &v, unsigned x)
{
  v.push_back(BYTE(x));
  v.push_back(BYTE(x >> 8));
}
void put32(std::vector<BYTE> &v, uint32_t x)
{
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

// How many consecutive valid frames that fit in [p, end) start at p, up to
// three; *partial tells that the walk stopped at a frame (or header) that
// runs past the end.
int count_frames(const BYTE *p, const BYTE *end, bool *partial)
{
  *partial = false;
  int n = 0;
  while (n < 3) {
    if (end - p < 4) {
      *partial = true;
      return n;
    }
    Mp3FrameHeader fh = mp3_frame_header(mp3_read_be32(p));
    if (!fh.valid) return n;
    if (end - p < fh.frame_bytes) {
      *partial = true;
      return n;
    }
    p += fh.frame_bytes;
    n++;
  }
  return n;
}

}  // namespace

uint32_t mp3_read_be32(const BYTE *p)
{
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

Mp3FrameHeader mp3_frame_header(uint32_t h)
{
  Mp3FrameHeader f{};
  if ((h & 0xFFE00000u) != 0xFFE00000u) return f;
  int vbits = (h >> 19) & 3, lbits = (h >> 17) & 3, bi = (h >> 12) & 15, si = (h >> 10) & 3;
  if (vbits == 1 || lbits == 0 || bi == 0 || bi == 15 || si == 3) return f;
  f.version = vbits == 3 ? 1 : vbits == 2 ? 2 : 25;
  f.layer = 4 - lbits;
  int col = f.version == 1 ? 0 : 1;
  f.bitrate = kBitrates[col][f.layer - 1][bi] * 1000;
  f.sample_rate = kRates[f.version == 1 ? 0 : f.version == 2 ? 1 : 2][si];
  f.padding = (h >> 9) & 1;
  f.channel_mode = (h >> 6) & 3;
  if (f.layer == 1) {
    f.frame_bytes = (12 * f.bitrate / f.sample_rate + f.padding) * 4;
    f.samples = 384;
  } else {
    int len = 144 * f.bitrate / f.sample_rate;
    if (f.version != 1) len /= 2;
    f.frame_bytes = len + f.padding;
    f.samples = f.version == 1 ? 1152 : 576;
  }
  f.duration = REFERENCE_TIME(f.samples) * 10000000 / f.sample_rate;
  f.valid = true;
  return f;
}

HRESULT mp3_riff_walk(const BYTE *d, size_t n, Mp3Riff *out)
{
  if (n < 4 || std::memcmp(d, "RIFF", 4) != 0) return S_FALSE;
  if (n < 12) return VFW_E_TYPE_NOT_ACCEPTED;
  out->format.clear();
  size_t pos = 12;
  // The header of the chunk at pos, which must lie in the bytes read.
  auto chunk = [&](const char *id, uint32_t *len) {
    if (pos > n || n - pos < 8 || std::memcmp(d + pos, id, 4) != 0) return false;
    *len = le32(d + pos + 4);
    return true;
  };
  uint32_t len;
  if (std::memcmp(d + 8, "WAVE", 4) == 0) {
    if (!chunk("fmt ", &len) || len < QUORRIN_RIFF_FMT_MIN || len > QUORRIN_RIFF_FMT_MAX || n - pos - 8 < len)
      return VFW_E_TYPE_NOT_ACCEPTED;
    const BYTE *f = d + pos + 8;
    unsigned tag = unsigned(f[0]) | unsigned(f[1]) << 8;
    if (tag != 0x55 && tag != 0x50) return VFW_E_TYPE_NOT_ACCEPTED;
    out->format.assign(f, f + len);
    if (out->format.size() < QUORRIN_WAVEFORMATEX_BYTES) out->format.resize(QUORRIN_WAVEFORMATEX_BYTES, 0);
    pos += 8 + size_t(len);
    if (chunk("fact", &len)) pos += 8 + size_t(len);
  } else if (std::memcmp(d + 8, "RMP3", 4) != 0) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (!chunk("data", &len)) return VFW_E_TYPE_NOT_ACCEPTED;
  out->start = int64_t(pos) + 8;
  out->end = out->start + len;
  return S_OK;
}

bool Mp3StreamParser::ReadVbri(const BYTE *p, size_t avail, const Mp3FrameHeader &fh)
{
  // "VBRI" 36 bytes behind the header, then its fixed fields.
  const size_t fixed = 36 + 4 + 22;
  if (avail < fixed || std::memcmp(p + 36, "VBRI", 4) != 0) return false;
  const BYTE *v = p + 40;
  int version = int(be16(v)), delay = int(be16(v + 2)), quality = int(be16(v + 4));
  uint32_t bytes = mp3_read_be32(v + 6), frames = mp3_read_be32(v + 10);
  int entries = int(be16(v + 14)), scale = int(be16(v + 16)), esize = int(be16(v + 18)),
      fpe = int(be16(v + 20));
  // A table that cannot be walked, or that runs past the bytes read, is
  // no table.
  if (frames == 0 || entries == 0 || fpe == 0 || scale == 0 || esize < 1 || esize > 4) return false;
  size_t tbytes = size_t(entries + 1) * size_t(esize);
  if (avail - fixed < tbytes) return false;
  m_v.table.assign(size_t(entries) + 1, 0);
  const BYTE *t = p + fixed;
  for (int i = 0; i <= entries; i++) {
    int64_t e = 0;
    for (int b = 0; b < esize; b++) e = e << 8 | *t++;
    m_v.table[size_t(i)] = e * scale;
  }
  m_v.sample_rate = fh.sample_rate;
  m_v.samples = fh.samples;
  m_v.version = version;
  m_v.delay = delay;
  m_v.quality = quality;
  m_v.bytes = bytes;
  m_v.frames = frames;
  m_v.entries = entries;
  m_v.scale = scale;
  m_v.entry_size = esize;
  m_v.frames_per_entry = fpe;
  m_vbri = true;
  return true;
}

bool Mp3StreamParser::ReadXing(const BYTE *p, size_t avail, const Mp3FrameHeader &fh)
{
  size_t off;
  if (fh.version == 1)
    off = fh.channel_mode == 3 ? 21 : 36;
  else
    off = fh.channel_mode == 3 ? 13 : 21;
  for (size_t q = 0; size_t(fh.frame_bytes) >= q + 120; q++) {
    size_t at = q + off;
    if (avail < at + 8 || std::memcmp(p + at, "Xing", 4) != 0) continue;
    uint32_t flags = mp3_read_be32(p + at + 4);
    if (!(flags & 3)) return false;
    size_t need = 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    if (avail - at < need) return false;  // runs past the bytes read
    const BYTE *x = p + at + 8;
    m_x = {};
    m_x.flags = flags;
    m_x.quality = -1;
    if (flags & 1) m_x.frames = mp3_read_be32(x), x += 4;
    if (flags & 2) m_x.bytes = mp3_read_be32(x), x += 4;
    if (flags & 4) std::memcpy(m_x.toc, x, 100), x += 100;
    if (flags & 8) m_x.quality = int(mp3_read_be32(x));
    m_x.sample_rate = fh.sample_rate;
    m_x.samples = fh.samples;
    m_xing = true;
    return true;
  }
  return false;
}

void Mp3StreamParser::BuildFormat(const Mp3FrameHeader &fh)
{
  unsigned align = (fh.sample_rate == 22050 || fh.sample_rate == 44100 || m_xing) ? 1 : unsigned(fh.frame_bytes);
  std::vector<BYTE> &f = m_format;
  f.clear();
  put16(f, 0x0055);
  put16(f, fh.channel_mode == 3 ? 1 : 2);
  put32(f, uint32_t(fh.sample_rate));
  put32(f, uint32_t(fh.bitrate / 8));
  put16(f, align);
  put16(f, 0);   // bits per sample
  put16(f, 12);  // extra bytes
  put16(f, 1);   // MPEG
  put32(f, 0);
  put16(f, align);
  put16(f, 1);
  put16(f, 0);
}

void Mp3StreamParser::CheckEnd(Mp3Source *src)
{
  if (m_lengthKnown) return;
  LONGLONG total = 0, avail = 0;
  if (FAILED(src->Length(&total, &avail)) || total != avail) return;
  m_end = total;
  m_lengthKnown = true;
  BYTE tag[QUORRIN_ID3V1_BYTES];
  if (total >= QUORRIN_ID3V1_BYTES && src->Read(total - QUORRIN_ID3V1_BYTES, QUORRIN_ID3V1_BYTES, tag) == S_OK &&
      std::memcmp(tag, "TAG", 3) == 0)
    m_trailing = QUORRIN_ID3V1_BYTES;
}

HRESULT Mp3StreamParser::Open(Mp3Source *src)
{
  std::vector<BYTE> buf;
  try {
    buf.resize(QUORRIN_SCAN_BYTES);
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
  LONG got = QUORRIN_SCAN_BYTES;
  if (src->Read(0, got, buf.data()) != S_OK) {
    LONGLONG total = 0, avail = 0;
    HRESULT hr = src->Length(&total, &avail);
    if (FAILED(hr)) return hr;
    if (avail <= 0 || avail > QUORRIN_SCAN_BYTES) return E_FAIL;
    got = LONG(avail);
    hr = src->Read(0, got, buf.data());
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  }

  m_start = 0;
  m_end = 0x7FFFFFFF;
  m_trailing = 0;
  m_lengthKnown = m_vbri = m_xing = m_locked = false;
  m_format.clear();
  bool riffFormat = false;
  Mp3Riff riff;
  HRESULT hr = mp3_riff_walk(buf.data(), size_t(got), &riff);
  if (FAILED(hr)) return hr;
  if (hr == S_OK) {
    m_start = riff.start;
    m_end = riff.end;
    if (!riff.format.empty()) {
      m_format = riff.format;
      riffFormat = true;
    }
  }
  // Each ID3v2 tag, however many there are, is passed by its declared size
  // unread: a picture in a second tag reaches far past the scan window.
  for (BYTE h[10]; src->Read(m_start, sizeof h, h) == S_OK && std::memcmp(h, "ID3", 3) == 0;)
    m_start += (int64_t(h[6] & 0x7F) << 21 | int64_t(h[7] & 0x7F) << 14 | int64_t(h[8] & 0x7F) << 7 | (h[9] & 0x7F)) +
               (h[5] & 0x10 ? 20 : 10);  // a footer repeats the header
  CheckEnd(src);

  // The scan window behind the wrappers and tags; when the length is known
  // it does not reach past the end.
  int64_t window = m_start <= got - 4 ? got - m_start : QUORRIN_SCAN_BYTES;
  if (m_lengthKnown) window = std::min<int64_t>(window, m_end - m_start);
  if (window < 4) return VFW_E_TYPE_NOT_ACCEPTED;
  hr = src->Read(m_start, LONG(window), buf.data());
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;

  const BYTE *w = buf.data(), *wend = w + window;
  for (const BYTE *p = w; wend - p >= 4; p++) {
    Mp3FrameHeader fh = mp3_frame_header(mp3_read_be32(p));
    if (!fh.valid) continue;
    size_t avail = size_t(wend - p);
    if (!m_vbri && !m_xing) {
      if (!ReadVbri(p, avail, fh) && fh.frame_bytes >= 120) ReadXing(p, avail, fh);
    }
    bool partial;
    if (count_frames(p, wend, &partial) < 3) continue;

    if (fh.layer != 3) return VFW_E_TYPE_NOT_ACCEPTED;
    if (!riffFormat) BuildFormat(fh);
    m_bitrate = fh.bitrate;
    if (m_xing && m_x.frames > 0 && m_x.bytes > 0) {
      // The average over the whole stream, when both counts say something.
      double secs = double(m_x.frames) * m_x.samples / m_x.sample_rate;
      double rate = double(m_x.bytes) * 8 / secs;
      if (rate >= 1 && rate < 2147483647.0) m_bitrate = int(rate);
    }
    m_firstHeader = mp3_read_be32(p);
    if (!m_sink) return VFW_E_TYPE_NOT_ACCEPTED;
    hr = m_sink->CreateOutputPin(m_format.data(), ULONG(m_format.size()));
    return FAILED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

REFERENCE_TIME Mp3StreamParser::ComputedDuration() const
{
  if (m_vbri) return mul_div(int64_t(m_v.frames) * 10000000, m_v.samples, m_v.sample_rate);
  if (m_xing && m_x.frames > 0) return mul_div(int64_t(m_x.frames) * 10000000, m_x.samples, m_x.sample_rate);
  int64_t bytes = m_xing && m_x.bytes > 0 ? int64_t(m_x.bytes) : m_end - m_trailing - m_start;
  return mul_div(std::max<int64_t>(bytes, 0), 80000000, m_bitrate);
}

REFERENCE_TIME Mp3StreamParser::Duration() const
{
  return m_declared != -1 ? m_declared : ComputedDuration();
}

bool Mp3StreamParser::Seekable() const
{
  if (m_xing) return (m_x.flags & 4) != 0;
  return m_vbri || m_lengthKnown;
}

LONGLONG Mp3StreamParser::TimeToPosition(const REFERENCE_TIME *pt) const
{
  if (!pt) return 0;
  REFERENCE_TIME t = *pt, dur = Duration();
  if (t == 0) return m_start;
  if (t == dur) return m_end - m_trailing;
  if (m_vbri) {
    double total = double(m_v.frames) * (m_v.sample_rate < 32000 ? 576 : 1152) / m_v.sample_rate * 1000;
    double ms = std::clamp(double(t) * 0.0001, 0.0, total);
    double step = total / (m_v.entries + 1);
    double sum = 0;
    int64_t pos = 0, last = 0;
    for (int i = 0; i <= m_v.entries; i++) {
      sum += step;
      last = m_v.table[size_t(i)];
      pos += last;
      if (sum > ms) break;
    }
    double back = std::round(m_v.frames_per_entry * (sum - ms) / step) * double(last) / m_v.frames_per_entry;
    return pos - int64_t(back);
  }
  if (m_xing && (m_x.flags & 4)) {
    if (dur <= 0) return m_start;
    if (m_x.toc[0] || m_x.toc[49] || m_x.toc[99]) {
      double p = std::clamp(double(t) / double(dur) * 100, 0.0, 100.0);
      int i = std::min(int(p), 99);
      double a = m_x.toc[i], b = i == 99 ? 256 : m_x.toc[i + 1];
      return LONGLONG((a + (p - i) * (b - a)) * m_x.bytes / 256);
    }
    return (m_end > 0 && t > 0) ? mul_div(m_end, t, dur) : m_start;
  }
  if (m_declared > 0) t = mul_div(t, ComputedDuration(), m_declared);
  return m_start + mul_div(t, m_bitrate, 80000000);
}

void Mp3StreamParser::Reset(REFERENCE_TIME start, REFERENCE_TIME stop)
{
  m_time = 0;
  m_locked = false;
  m_unsynced = 0;
  m_winStart = start;
  m_winStop = stop;
}

HRESULT Mp3StreamParser::Receive(const BYTE *data, LONG length, LONG *consumed)
{
  const BYTE *p = data, *end = data + std::max<LONG>(length, 0);
  bool delivered = false;
  for (;;) {
    if (!m_locked) {
      const BYTE *from = p;
      for (; end - p > 3; p++) {
        bool partial;
        if (count_frames(p, end, &partial) == 3) {
          m_locked = true;
          break;
        }
        if (partial) break;  // wait for the rest of the frames
      }
      m_unsynced += p - from;
      if (!m_locked) {
        *consumed = LONG(p - data);
        if (m_unsynced > QUORRIN_MAX_UNSYNCED) return VFW_E_RUNTIME_ERROR;
        return S_OK;
      }
      m_unsynced = 0;
    }
    for (;;) {
      if (end - p >= 3 && std::memcmp(p, "TAG", 3) == 0) {
        *consumed = LONG(end - data);
        return delivered ? S_OK : S_FALSE;
      }
      if (end - p < 4) break;
      Mp3FrameHeader fh = mp3_frame_header(mp3_read_be32(p));
      if (!fh.valid) {
        // Lost sync: look for it again in what is left of this block.
        m_locked = false;
        break;
      }
      if (end - p < fh.frame_bytes) break;
      if (m_time > m_winStop - m_winStart) {
        *consumed = LONG(p - data);
        return S_FALSE;
      }
      HRESULT hr = m_sink->DeliverFrame(p, fh.frame_bytes, m_time);
      if (FAILED(hr)) {
        *consumed = LONG(p - data);
        return hr;
      }
      delivered = true;
      m_time += fh.duration;
      p += fh.frame_bytes;
    }
    if (m_locked) break;
  }
  *consumed = LONG(p - data);
  return delivered ? S_OK : S_FALSE;
}
