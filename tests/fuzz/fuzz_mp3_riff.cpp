// links: quorrin_core tarvo_dshow_base tarvo_com
// The RIFF walk in front of MPEG audio: an accepted wrapper's audio starts
// inside the bytes given and its format is 18 to 40 bytes long.
#include "mp3_stream.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  Mp3Riff r;
  if (mp3_riff_walk(data, size, &r) != S_OK) return 0;
  if (r.start < 0 || size_t(r.start) > size) std::abort();
  if (!r.format.empty() && (r.format.size() < 18 || r.format.size() > 40)) std::abort();
  return 0;
}
