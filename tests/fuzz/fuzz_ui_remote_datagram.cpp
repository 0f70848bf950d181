// links: tarvo_ui_core
// A datagram of the desktop layer's cross-process post from arbitrary
// bytes: taken only when whole and addressed to this process.
#include "../../platform/ui/src/ui_remote.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  ui_remote_datagram d;
  uint32_t pid = size >= 16 ? uint32_t(data[12] | data[13] << 8 | data[14] << 16 | uint32_t(data[15]) << 24) : 1;
  if (!ui_remote_parse(data, size, pid, &d)) return 0;
  if (size != sizeof d || d.magic != UI_REMOTE_MAGIC || uint32_t(d.hwnd >> 32) != pid || uint32_t(d.hwnd) == 0)
    std::abort();
  return 0;
}
