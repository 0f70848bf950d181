// Scratch folders of the fuzz targets: made once under the temporary
// folder and removed when the run ends (libFuzzer ends a run with exit()),
// so that runs leave nothing behind.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz_scratch {

// A new folder named prefix and six random characters.
inline std::string folder(const std::string &prefix)
{
  // Never freed: the exit handler may run after the statics are gone.
  static auto *made = new std::vector<std::string>;
  std::string t = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (!mkdtemp(t.data())) std::abort();
  if (made->empty())
    std::atexit([] {
      std::error_code ec;
      for (const std::string &d : *made) std::filesystem::remove_all(d, ec);
    });
  made->push_back(t);
  return t;
}

}  // namespace fuzz_scratch
