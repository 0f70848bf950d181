// links: corda_m3u tarvo_util
// The M3U reader on arbitrary playlist text, in a folder holding a few
// files: every kept entry is an absolute path that names a regular file,
// and paths and names pair up.
#include <corda_m3u/corda_m3u.h>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct playground {
  std::filesystem::path dir;
  playground()
  {
    std::string t = (std::filesystem::temp_directory_path() / "m3u-fuzz-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    dir = t;
    std::filesystem::create_directories(dir / "b" / "e.mp3");
    for (const char *f : {"a.mp3", "b/c.flac", "b/d", ".x"}) std::ofstream(dir / f) << "";
  }
  ~playground()
  {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

void check(bool ok)
{
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static playground pg;
  std::string list = (pg.dir / "b" / "list.m3u").string();
  {
    std::ofstream f(list, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
  }
  sys_str_list paths = nullptr, names = nullptr;
  check(corda_m3u_parse(list.c_str(), "/x", &paths, &names) == 1);
  size_t i = 0;
  for (; paths[i]; i++) {
    struct stat st;
    check(names[i] && paths[i][0] == '/' && stat(paths[i], &st) == 0 && S_ISREG(st.st_mode));
    check(std::strncmp(names[i], "/x/", 3) == 0);
  }
  check(!names[i]);
  sys_str_list_free(paths);
  sys_str_list_free(names);
  return 0;
}
