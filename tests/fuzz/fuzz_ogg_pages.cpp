// links: tarvo_tag tarvo_avcp tarvo_util
// The Ogg page walks over arbitrary file bytes: the last page's serial
// number lies in the file, the chain's time is a number, never negative,
// and the link found for a time lies in the file and plays then.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fuzz_file.h"
#include "ogg_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  mp3::file_window w(fd);
  uint32_t serial;
  if (ogg::last_serial(w, 0, size, &serial)) {
    bool found = false;
    for (size_t i = 0; !found && i + 18 <= size; i++)
      found = std::memcmp(data + i, "OggS", 4) == 0 && std::memcmp(data + i + 14, &serial, 4) == 0;
    if (!found) std::abort();
  }
  double seconds = ogg::chain_seconds(w, size);
  if (!(seconds >= 0) || std::isinf(seconds)) std::abort();
  ogg::link_span l;
  double at = size ? data[size - 1] * 0.05 : 0;
  if (ogg::chain_link_at(w, size, at, &l) &&
      (l.begin >= l.end || l.end > size || at < l.start || at >= l.start + l.seconds || l.start + l.seconds > seconds))
    std::abort();
  return 0;
}
