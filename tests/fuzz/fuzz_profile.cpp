// links: tarvo_platform tarvo_util
// Ini files from arbitrary bytes: lookups stay inside the caller's buffer,
// and a value written is read back while every other section's lines stay.
#include <tarvo_platform/profile.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const std::string path = fuzz_scratch::folder("tarvo-fuzz-profile-") + "/a.ini";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  size_t n = profile_get_string("General", "Lang", "", buf, 8, path.c_str());
  if (n > 7 || buf[n] != '\0' || buf[8] != 'x') std::abort();
  profile_get_int("General", "Count", 0, path.c_str());
  if (profile_write_string("General", "Lang", "xy", path.c_str())) {
    if (profile_get_string("general", "lang", "", buf, sizeof buf, path.c_str()) != 2 || std::strcmp(buf, "xy"))
      std::abort();
  }
  profile_write_string("Other", nullptr, nullptr, path.c_str());
  return 0;
}
