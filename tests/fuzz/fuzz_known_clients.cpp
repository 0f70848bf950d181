// links: quessel_core
// The tray helper's known-client list from arbitrary bytes: keys without
// LF, none empty, at most the cap.
#include "helper_files.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::vector<std::string> keys;
  known_clients_parse(reinterpret_cast<const char *>(data), size, &keys);
  if (keys.size() > KNOWN_CLIENTS_MAX) std::abort();
  for (const std::string &k : keys)
    if (k.empty() || k.find('\n') != std::string::npos) std::abort();
  return 0;
}
