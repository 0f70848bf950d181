// Helpers of the tests that compare the metadata readers with independent
// tools (ffmpeg and ffprobe, sox, lame, ImageMagick, exiftool): running a
// command, skipping when its tool is missing, generating files, reading one
// field of a tool's output and of the dump program's item text.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tarvo_test.h"

namespace tag_tools {

// The text as one single-quoted shell word.
inline std::string quote(const std::string &s)
{
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

struct result {
  int status = -1;  // the exit code; -1 when the command did not run or was killed
  std::string out;  // its standard output
};

// Runs a shell command, standard error discarded.
inline result run(const std::string &cmd)
{
  int st;
  result r;
  r.out = tarvo_test::command_output(cmd + " 2>/dev/null", &st);
  r.status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool have_tool(const std::string &name)
{
  return run("command -v " + quote(name)).status == 0;
}

// The first of the tools that is not installed, or "".
inline std::string missing_tool(std::initializer_list<const char *> tools)
{
  for (const char *t : tools)
    if (!have_tool(t)) return t;
  return "";
}

// Ends the test as skipped when one of the tools is missing.
#define TAG_TOOLS_REQUIRE(...)                                                                              \
  do {                                                                                                      \
    std::string missing_ = ::tag_tools::missing_tool({__VA_ARGS__});                                        \
    if (!missing_.empty())                                                                                  \
      GTEST_SKIP() << missing_ << " is not installed (scripts/packages lists it; scripts/setup installs it)"; \
  } while (0)

// Runs a command that writes the file path (named in cmd) and reports
// whether it exited 0 and left a non-empty file.
inline bool generate(const std::string &cmd, const std::string &path)
{
  std::error_code ec;
  return run(cmd).status == 0 && std::filesystem::file_size(path, ec) > 0 && !ec;
}

// ffmpeg quietly, overwriting, with the given arguments then the output.
inline bool ffmpeg(const std::string &args, const std::string &path)
{
  return generate("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " " + quote(path), path);
}

// Lines of "-of default=nw=1:nk=1" output, one per value.
inline std::vector<std::string> lines(const std::string &text)
{
  std::vector<std::string> r;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(at, nl - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) r.push_back(line);
    at = nl + 1;
  }
  return r;
}

// One field as ffprobe shows it, e.g. ffprobe_field(p, "stream=sample_rate",
// "a:0") or ffprobe_field(p, "format=duration"); "" when absent.
inline std::string ffprobe_field(const std::string &path, const std::string &entry, const std::string &streams = "")
{
  std::string cmd = "ffprobe -v error ";
  if (!streams.empty()) cmd += "-select_streams " + streams + " ";
  result r = run(cmd + "-show_entries " + quote(entry) + " -of default=nw=1:nk=1 " + quote(path));
  std::vector<std::string> l = lines(r.out);
  return r.status == 0 && !l.empty() ? l[0] : "";
}

// Several fields in one run, by name (the first of each name):
// ffprobe_fields(p, "stream=sample_rate,channels:format=duration", "a:0").
inline std::map<std::string, std::string> ffprobe_fields(const std::string &path, const std::string &entries,
                                                         const std::string &streams = "")
{
  std::string cmd = "ffprobe -v error ";
  if (!streams.empty()) cmd += "-select_streams " + streams + " ";
  result r = run(cmd + "-show_entries " + quote(entries) + " -of default=nw=1 " + quote(path));
  std::map<std::string, std::string> m;
  for (const std::string &l : lines(r.out)) {
    size_t eq = l.find('=');
    if (eq != std::string::npos) m.emplace(l.substr(0, eq), l.substr(eq + 1));
  }
  return m;
}

// One tag as exiftool prints its value alone (-s -s -s), e.g. "Artist";
// with numeric set, the raw number instead of its description (-n).
inline std::string exiftool_field(const std::string &path, const std::string &tag, bool numeric = false)
{
  result r = run("exiftool -s -s -s " + std::string(numeric ? "-n " : "") + quote("-" + tag) + " " + quote(path));
  std::vector<std::string> l = lines(r.out);
  return r.status == 0 && !l.empty() ? l[0] : "";
}

// Several tags in one exiftool run, by name: "-" for a tag it did not find.
inline std::map<std::string, std::string> exiftool_tags(const std::string &path,
                                                        std::initializer_list<const char *> tags)
{
  std::string cmd = "exiftool -f -s -s -s";
  for (const char *t : tags) cmd += std::string(" -") + t;
  std::vector<std::string> l = lines(run(cmd + " " + quote(path)).out);
  std::map<std::string, std::string> m;
  size_t i = 0;
  for (const char *t : tags)
    if (i < l.size()) m[t] = l[i++];
  return m;
}

// The dump program built beside the test programs.
inline std::string dump_program()
{
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "tag_item_dump").string();
}

// tag_item_dump with the arguments, each quoted.
inline result dump(std::initializer_list<std::string> args)
{
  std::string cmd = quote(dump_program());
  for (const std::string &a : args) cmd += " " + quote(a);
  return run(cmd);
}

// The text with the five XML entities and decimal character references undone.
inline std::string xml_unescape(const std::string &s)
{
  static const std::pair<const char *, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string r;
  for (size_t i = 0; i < s.size();) {
    bool done = false;
    for (auto [e, c] : kEntities) {
      if (s.compare(i, std::strlen(e), e) == 0) {
        r += c;
        i += std::strlen(e);
        done = true;
        break;
      }
    }
    if (!done) r += s[i++];
  }
  return r;
}

// Attribute name of the item's res element ("duration"), unescaped; "" when absent.
inline std::string res_attribute(const std::string &item, const std::string &name)
{
  size_t res = item.find("<res");
  if (res == std::string::npos) return "";
  size_t end = item.find("/>", res);
  std::string key = " " + name + "=\"";
  size_t at = item.find(key, res);
  if (at == std::string::npos || at > end) return "";
  at += key.size();
  return xml_unescape(item.substr(at, item.find('"', at) - at));
}

// The text of every element of that name ("upnp:artist"), unescaped.
inline std::vector<std::string> elements(const std::string &item, const std::string &name)
{
  std::vector<std::string> r;
  std::string open = "<" + name + ">", close = "</" + name + ">";
  for (size_t at = item.find(open); at != std::string::npos; at = item.find(open, at)) {
    at += open.size();
    size_t end = item.find(close, at);
    if (end == std::string::npos) break;
    r.push_back(xml_unescape(item.substr(at, end - at)));
  }
  return r;
}

inline std::string element(const std::string &item, const std::string &name)
{
  std::vector<std::string> e = elements(item, name);
  return e.empty() ? "" : e[0];
}

// "H:MM:SS[.mmm]" in milliseconds; -1 when it is not of that form.
inline int64_t duration_ms(const std::string &d)
{
  unsigned h, m, s, ms = 0;
  char tail[8] = "";
  int n = std::sscanf(d.c_str(), "%u:%2u:%2u.%3u%7s", &h, &m, &s, &ms, tail);
  if (n < 3 || n > 4 || (n == 4 && d.substr(d.find('.') + 1).size() != 3)) return -1;
  return ((int64_t(h) * 60 + m) * 60 + s) * 1000 + ms;
}

// Seconds in decimal (ffprobe's "12.345678") in milliseconds, rounded down;
// -1 when it is not a number.
inline int64_t seconds_ms(const std::string &s)
{
  char *end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end) return -1;
  return int64_t(v * 1000 + 1e-6);
}

// A comparison test's scratch folder and the item text the dump program
// gives for a file.
class compare_test : public ::testing::Test {
 protected:
  tarvo_test::scratch_dir d;

  std::string item(const std::string &path, const char *mime)
  {
    result r = dump({path, mime});
    EXPECT_EQ(r.status, 0) << path;
    return r.out;
  }
};

}  // namespace tag_tools
