// links: haldor_core
// setting.xml and the language texts from arbitrary bytes: the loader stays
// inside the file and its bounds.
#include "tool_settings.h"

#include "fuzz_file.h"

#include <map>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  std::map<std::string, std::string> items;
  tool_xml_items_load("/proc/self/fd/" + std::to_string(fd), &items);
  return 0;
}
