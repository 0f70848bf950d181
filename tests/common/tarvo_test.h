// Helpers shared by the test programs.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace tarvo_test {

// A fresh folder under the system's temporary folder, removed with the
// object.
struct scratch_dir {
  std::filesystem::path path;
  scratch_dir()
  {
    std::string t = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    path = t;
  }
  ~scratch_dir()
  {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string &name) const { return (path / name).string(); }
};

inline void write_file(const std::string &path, const std::string &data)
{
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

inline std::string read_file(const std::string &path)
{
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The folder of the source tree's tests/ (for data files), from CTest's
// environment.
inline std::string data_dir()
{
  const char *d = std::getenv("TARVO_TEST_DATA");
  return d ? d : "tests";
}

}  // namespace tarvo_test
