// links: quessel_core
// The first line of an access or one-line file from arbitrary bytes: within
// the bound, no CR or LF, well-formed UTF-8 or refused.
#include "helper_files.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string line;
  if (!first_line_of(reinterpret_cast<const char *>(data), size, &line)) return 0;
  if (line.size() > HELPER_LINE_MAX || line.find_first_of("\r\n") != std::string::npos) std::abort();
  return 0;
}
