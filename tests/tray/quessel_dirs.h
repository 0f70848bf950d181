// The folders a quessel run under test reads beside its program files:
// the pictures from the build, and the data folder's access and helper
// folders.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quessel_dirs {

// Copies the pictures into prog and makes data's folders; the server's
// conf folder.
inline std::string lay_out(const std::filesystem::path &prog, const std::filesystem::path &data)
{
  namespace fs = std::filesystem;
  for (auto &e : fs::directory_iterator(std::getenv("TARVO_BIN")))
    if (e.path().extension() == ".png") fs::copy(e.path(), prog / e.path().filename());
  std::string conf = data / "tarvo/media/conf";
  fs::create_directories(conf + "/access/allow");
  fs::create_directories(conf + "/access/deny");
  fs::create_directories(data / "tarvo/quessel");
  return conf;
}

}  // namespace quessel_dirs
