// links: vennard_core
// The server's device description from arbitrary bytes: read, and when it
// reads, every kept string is checked to be there.
#include <vennard/server_desc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > (1u << 20)) return 0;
  server_desc_rec d{};
  if (description_read(reinterpret_cast<const char *>(data), uint32_t(size), &d)) {
    if (!d.devices || !d.devices[0]) std::abort();
    for (server_desc_device_rec **dev = d.devices; *dev; dev++) {
      if (!(*dev)->friendly_name || !(*dev)->model_name) std::abort();
      for (server_desc_service_rec **s = (*dev)->services; s && *s; s++)
        if (std::strlen((*s)->service_type) + std::strlen((*s)->service_id) == SIZE_MAX) std::abort();
    }
  } else if (d.devices || d.url_base) {
    std::abort();
  }
  description_free(&d);
  return 0;
}
