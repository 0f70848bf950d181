// links: quorrin_core tarvo_dshow_base tarvo_com
// The MP3 parser's stream parser over arbitrary bytes held in memory: open,
// duration, seek positions and delivery in blocks.  A delivered frame lies
// inside the bytes given, and a position answer for a complete source never
// runs far past its end.
#include "mp3_stream.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class Source : public Mp3Source {
 public:
  Source(const uint8_t *d, size_t n) : data(d), size(n) {}
  HRESULT Read(LONGLONG pos, LONG len, BYTE *buf) override
  {
    if (pos < 0 || len < 0 || size_t(pos) > size) return E_FAIL;
    size_t n = std::min(size_t(len), size - size_t(pos));
    std::memcpy(buf, data + pos, n);
    return n == size_t(len) ? S_OK : S_FALSE;
  }
  HRESULT Length(LONGLONG *total, LONGLONG *avail) override
  {
    *total = *avail = LONGLONG(size);
    return S_OK;
  }
  const uint8_t *data;
  size_t size;
};

class Sink : public Mp3StreamSink {
 public:
  HRESULT CreateOutputPin(const BYTE *f, ULONG n) override
  {
    if (n < 18) std::abort();
    volatile BYTE x = f[n - 1];
    (void)x;
    return S_OK;
  }
  HRESULT DeliverFrame(const BYTE *d, LONG n, REFERENCE_TIME) override
  {
    if (d < lo || n < 4 || d + n > hi) std::abort();
    return S_OK;
  }
  const BYTE *lo = nullptr, *hi = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  Source src(data, size);
  Sink sink;
  Mp3StreamParser p(&sink);
  if (p.Open(&src) != S_OK) return 0;
  REFERENCE_TIME d = p.Duration();
  for (REFERENCE_TIME t : {REFERENCE_TIME(1), d / 3, d / 2, d - 1, d, d + 1, REFERENCE_TIME(-5)}) p.TimeToPosition(&t);
  p.Seekable();
  p.Reset(0, INT64_MAX);
  sink.lo = data;
  sink.hi = data + size;
  size_t read = size_t(std::max<int64_t>(0, std::min<int64_t>(p.StartOffset(), int64_t(size)))), end = read;
  while (end < size) {
    end = std::min(size, end + 4096);
    LONG used = 0;
    HRESULT hr = p.Receive(data + read, LONG(end - read), &used);
    if (used < 0 || size_t(used) > end - read) std::abort();
    read += size_t(used);
    if (hr != S_OK) break;
  }
  return 0;
}
