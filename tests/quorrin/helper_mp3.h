// MPEG audio streams made in the tests, and a memory source to read them.
#ifndef TARVO_TESTS_QUORRIN_HELPER_MP3_H
#define TARVO_TESTS_QUORRIN_HELPER_MP3_H

#include "mp3_stream.h"

#include <cstring>
#include <vector>

// Headers: MPEG-1 Layer III 128 kbps 44100 Hz stereo, and variants.
constexpr uint32_t H_128_44 = 0xFFFB9000;
constexpr uint32_t H_128_48 = 0xFFFB9400;
constexpr uint32_t H_64_22 = 0xFFF38000;  // MPEG-2 Layer III 64 kbps 22050 Hz
constexpr uint32_t H_L2_128_44 = 0xFFFD9000;

inline void put_be32(std::vector<BYTE> &v, uint32_t h)
{
  for (int s = 24; s >= 0; s -= 8) v.push_back(BYTE(h >> s));
}

// n frames with header h (padding bit as given), zero bodies.
inline void add_frames(std::vector<BYTE> &v, uint32_t h, int n)
{
  int len = mp3_frame_header(h).frame_bytes;
  for (int i = 0; i < n; i++) {
    put_be32(v, h);
    v.resize(v.size() + size_t(len) - 4, 0);
  }
}

class MemSource : public Mp3Source {
 public:
  explicit MemSource(std::vector<BYTE> d, LONGLONG avail = -1) : data(std::move(d)), available(avail) {}
  HRESULT Read(LONGLONG pos, LONG len, BYTE *buf) override
  {
    LONGLONG lim = available < 0 ? LONGLONG(data.size()) : available;
    if (pos < 0 || len < 0 || pos > lim) return E_FAIL;
    LONG n = LONG(std::min<LONGLONG>(len, lim - pos));
    std::memcpy(buf, data.data() + pos, size_t(n));
    return n == len ? S_OK : S_FALSE;
  }
  HRESULT Length(LONGLONG *total, LONGLONG *avail) override
  {
    *total = LONGLONG(data.size());
    *avail = available < 0 ? *total : available;
    return S_OK;
  }
  std::vector<BYTE> data;
  LONGLONG available;
};

struct Frame {
  size_t offset;
  LONG length;
  REFERENCE_TIME time;
};

class RecordingSink : public Mp3StreamSink {
 public:
  HRESULT CreateOutputPin(const BYTE *f, ULONG n) override
  {
    format.assign(f, f + n);
    return S_OK;
  }
  HRESULT DeliverFrame(const BYTE *d, LONG n, REFERENCE_TIME t) override
  {
    frames.push_back({size_t(d - base), n, t});
    return S_OK;
  }
  const BYTE *base = nullptr;  // offsets are taken from here
  std::vector<BYTE> format;
  std::vector<Frame> frames;
};

#endif
