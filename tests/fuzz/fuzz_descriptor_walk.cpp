// links: tarvo_tag tarvo_avcp tarvo_util
// Descriptor loops over arbitrary bytes through the SIT's handlers: the
// texts stay inside their fields and NUL-terminated, genres are strings,
// and the search finds only descriptors inside the bytes.
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "mpegts_impl.h"

namespace {

void check(bool ok)
{
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > 65536) return 0;
  mpegts_info info{};
  // Both loops over the same bytes: each handler runs at most once per value.
  descriptor_walk(mpegts_sit_transmission_handlers, data, uint32_t(size), &info);
  descriptor_walk(mpegts_sit_service_handlers, data, uint32_t(size), &info);
  check(std::memchr(info.title, 0, sizeof info.title) && std::strlen(info.title) <= 194);
  check(std::memchr(info.channel_name, 0, sizeof info.channel_name) && std::strlen(info.channel_name) <= 42);
  check(std::memchr(info.object_type, 0, sizeof info.object_type) != nullptr);
  for (uint32_t i = 0; i < info.genres.len; i++) check(info.genres.buf[i] && *static_cast<char *>(info.genres.buf[i]));
  sys_memalloc_rec m{const_cast<unsigned char *>(data), uint32_t(size), uint32_t(size)};
  const unsigned char *d;
  uint32_t len;
  for (uint8_t tag : {0x48, 0x4D, 0x54})
    if (descriptor_find(&m, tag, &d, &len)) check(d >= data && d + len <= data + size && d[0] == tag && len == 2u + d[1]);
  mpegts_info_free(&info);
  return 0;
}
