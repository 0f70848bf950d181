// Whether the Debian tools that media fixtures are made with have the part
// a test needs, each asked once per program.  A test skips on these
// answers alone, naming the package; a fixture that then fails to be made
// fails its test.
#ifndef TARVO_TESTS_COMMON_ENCODER_PROBE_H
#define TARVO_TESTS_COMMON_ENCODER_PROBE_H

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "tarvo_test.h"

namespace tarvo_test {

// What the command writes (standard output and error), run once.
inline std::string tool_listing(const std::string &cmd)
{
  static std::mutex m;
  static std::map<std::string, std::string> listings;
  std::lock_guard<std::mutex> hold(m);
  auto it = listings.find(cmd);
  if (it == listings.end()) {
    int status = 0;
    it = listings.emplace(cmd, command_output(cmd + " 2>&1", &status)).first;
  }
  return it->second;
}

// Whether a line of ffmpeg's listing names `name` after its flags.
inline bool ffmpeg_lists(const std::string &what, const std::string &name)
{
  std::istringstream lines(tool_listing("ffmpeg -hide_banner -" + what));
  for (std::string line, flags, word; std::getline(lines, line);) {
    std::istringstream words(line);
    if (words >> flags >> word && word == name) return true;
  }
  return false;
}

// ffmpeg has the encoder ("libvorbis", "libmp3lame", "aac", "wmav2").
inline bool ffmpeg_encodes(const std::string &encoder) { return ffmpeg_lists("encoders", encoder); }

// ffmpeg has the filter, its lavfi sources among them ("sine", "color").
inline bool ffmpeg_filters(const std::string &filter) { return ffmpeg_lists("filters", filter); }

// sox writes the format ("vorbis", "ogg").
inline bool sox_writes(const std::string &format)
{
  std::istringstream lines(tool_listing("sox -h"));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("AUDIO FILE FORMATS:", 0) == 0) return (line + " ").find(" " + format + " ") != std::string::npos;
  return false;
}

// The program is on the PATH.
inline bool program_found(const std::string &name)
{
  return tool_listing("command -v " + name + " >/dev/null && echo found") == "found\n";
}

}  // namespace tarvo_test

#endif
