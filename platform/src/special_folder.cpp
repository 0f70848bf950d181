// Folders that the system's shell would name.
#include <tarvo_platform/special_folder.h>

#include <cstdlib>
#include <cstring>

extern "C" int special_folder_common_appdata(char *buf, uint32_t size)
{
  const char *d = std::getenv("TARVO_COMMON_APPDATA");
  if (!d || !*d) d = "/var/lib";
  size_t n = std::strlen(d);
  if (n >= size) return 0;
  std::memcpy(buf, d, n + 1);
  return 1;
}
