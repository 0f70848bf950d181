// links: tarvo_ui_core
// The version record read from an arbitrary ELF image: offsets stay inside it.
#include <tarvo_ui/ui_resource.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  if (UiVersionValueIn(data, size, "ProductName", buf, 16) && (std::strlen(buf) > 15 || buf[16] != 'x'))
    std::abort();
  return 0;
}
