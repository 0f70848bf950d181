// links: corda_didl_objs corda_common tarvo_avcp tarvo_util
// The sidecar merge on an arbitrary sidecar and item text (the input split
// at its first NUL): whatever it accepts is NUL-terminated within the
// capacity and is a document with the object still in it.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_msf.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "fuzz_scratch.h"

namespace {

struct playground {
  std::filesystem::path dir = fuzz_scratch::folder("didl-fuzz-");
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static playground pg;
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t nul = input.find('\0');
  if (nul == std::string::npos) return 0;
  std::string side = input.substr(0, nul), item = input.substr(nul + 1);
  if (item.find('\0') != std::string::npos) return 0;
  std::string media = (pg.dir / "a.mp3").string();
  std::ofstream(media + ".didl", std::ios::binary | std::ios::trunc) << side;
  const uint32_t capacity = 50000;
  std::vector<char> out(capacity);
  if (!tarvo_msf_as_rewrite(media.c_str(), "audio/mpeg", item.c_str(), out.data(), capacity)) return 0;
  if (!std::memchr(out.data(), 0, capacity)) std::abort();
  // An item that held one object still holds one.
  avcp_didl_object_list before = nullptr, after = nullptr;
  if (avcp_didl_parse(item.c_str(), &before)) {
    bool one = before[0] && !before[1];
    if (one && (!avcp_didl_parse(out.data(), &after) || !after[0] || after[1])) std::abort();
  }
  avcp_didl_object_list_free(before);
  avcp_didl_object_list_free(after);
  return 0;
}
