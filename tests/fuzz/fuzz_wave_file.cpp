// links: tarvo_dshow_wave
// The WAVE walk over arbitrary file bytes, and the format check over the
// same bytes as a format block: a file taken has a format that passes the
// check and a data range of whole blocks inside the file.
#include "wave_format.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Bytes {
  const uint8_t *p;
  size_t n;
};

long read_bytes(void *ctx, uint64_t offset, void *buf, size_t size)
{
  auto *b = static_cast<Bytes *>(ctx);
  if (offset >= b->n) return 0;
  size_t k = b->n - size_t(offset) < size ? b->n - size_t(offset) : size;
  std::memcpy(buf, b->p + offset, k);
  return long(k);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  wave_format_valid(data, size);
  Bytes b{data, size};
  WaveFile w;
  if (wave_file_parse(read_bytes, &b, size, &w)) {
    if (!wave_format_valid(w.format.data(), w.format.size())) std::abort();
    WAVEFORMATEX f;
    std::memcpy(&f, w.format.data(), sizeof f);
    if (w.data_start > size || w.data_bytes > size - w.data_start) std::abort();
    if (w.data_bytes % f.nBlockAlign != 0 || wave_bytes_per_second(&f) == 0) std::abort();
  }
  return 0;
}
