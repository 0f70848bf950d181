// Path composition: joining, normalising, and the program's own folders.
#include <tarvo_platform/path.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string normalise(std::string_view path)
{
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    path.remove_prefix(slash == path.npos ? path.size() : slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == ".." && !parts.empty() && parts.back() != "..")
      parts.pop_back();
    else if (part != ".." || !absolute)
      parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); i++) (out += i ? "/" : "") += parts[i];
  return out.empty() ? "." : out;
}

int put(const std::string &s, char *buf, uint32_t size)
{
  if (s.empty() || s.size() >= size) return 0;
  std::memcpy(buf, s.c_str(), s.size() + 1);
  return 1;
}

}  // namespace

extern "C" {

int path_append(char *buf, uint32_t size, const char *more)
{
  if (!buf || !more || size == 0 || !std::memchr(buf, '\0', size)) return 0;
  std::string joined = std::string(buf) + "/" + more;
  std::string out = normalise(joined);
  return out.size() < PATH_APPEND_MAX && put(out, buf, size);
}

int path_program_folder(char *buf, uint32_t size)
{
  const char *dir = std::getenv("TARVO_SERVICE_DIR");
  if (dir && *dir) return put(normalise(dir), buf, size);
  char exe[PATH_APPEND_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return 0;
  std::string_view p(exe, size_t(n));
  size_t slash = p.rfind('/');
  if (slash == p.npos) return 0;
  return put(std::string(p.substr(0, slash ? slash : 1)), buf, size);
}

int special_folder_program_files(char *buf, uint32_t size)
{
  const char *d = std::getenv("TARVO_PROGRAM_FILES");
  return put(d && *d ? d : "/opt", buf, size);
}

}  // extern "C"
