// The M3U playlist reader.
#include <corda_m3u/corda_m3u.h>
#include <corda_m3u/corda_m3u_limits.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>
#include <tarvo_util/utf8file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sv = std::string_view;

// The playlist itself, refused unless it is a regular file; a FIFO would
// block the reader.
int open_regular(const char *path)
{
  int fd;
  do fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads the next line, LF included, into line; a line longer than the
// limit keeps only its start and sets too_long.  0 on a read error; an
// empty line at the end of the file.
int next_line(sys_filebuffer_rec *fb, std::string &line, bool &too_long)
{
  line.clear();
  too_long = false;
  for (;;) {
    uint32_t avail;
    if (!sys_filebuffer_feed(fb, &avail)) return 0;
    if (!avail) return 1;
    const char *x = sys_filebuffer_peek(fb);
    auto *lf = static_cast<const char *>(std::memchr(x, '\n', avail));
    uint32_t k = lf ? uint32_t(lf - x) + 1 : avail;
    size_t room = CORDA_M3U_LINE_MAX - line.size();
    if (k > room) too_long = true;
    line.append(x, k < room ? k : room);
    sys_filebuffer_seek(fb, k);
    if (lf) return 1;
  }
}

// The full form of an entry: relative entries are taken from the
// playlist's folder, "." and ".." are resolved by name, repeated
// separators fold.  A trailing separator stays, so that a file named with
// one is not found.
bool full_path(sv folder, sv entry, std::string &out)
{
  std::string joined;
  if (entry.empty() || entry[0] != '/') {
    joined = folder;
    if (joined.empty() || joined[0] != '/') {
      char cwd[CORDA_M3U_PATH_MAX];
      if (!getcwd(cwd, sizeof cwd)) return false;
      joined = std::string(cwd) + "/" + joined;
    }
  }
  joined += entry;
  std::vector<sv> parts;
  sv rest = joined;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    sv part = rest.substr(0, slash);
    rest = slash == sv::npos ? sv() : rest.substr(slash + 1);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
  }
  out.clear();
  for (sv part : parts) (out += '/') += part;
  if (out.empty() || joined.back() == '/') out += '/';
  return out.size() < CORDA_M3U_PATH_MAX;
}

bool is_regular_file(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// From the last "." of the last component; "" when it has none.
sv dot_suffix(sv path)
{
  return path.substr(utf8file_dot_suffix_at(path.data(), uint32_t(path.size())));
}

// A NULL-terminated list of heap copies, or 0 with nothing allocated.
int to_list(const std::vector<std::string> &from, sys_str_list *out)
{
  auto *list = static_cast<char **>(sys_alloc_zero((from.size() + 1) * sizeof(char *)));
  if (!list) return 0;
  for (size_t i = 0; i < from.size(); i++) {
    if (!sys_str_clone(from[i].c_str(), &list[i])) {
      sys_str_list_free(list);
      return 0;
    }
  }
  *out = list;
  return 1;
}

struct entries {
  std::vector<std::string> paths, names;
};

int read_playlist(const char *path, const char *prefix, entries &e)
{
  sv p(path);
  size_t sep = p.rfind('/');
  if (sep == sv::npos) return 0;
  sv folder = p.substr(0, sep + 1);
  int fd = open_regular(path);
  if (fd < 0) return 0;
  own::file closer(fd);
  char buf[CORDA_M3U_FILE_BUFFER];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  std::string line, full;
  bool too_long;
  uint64_t number = 0;
  // Each entry costs a lookup on disk here and an object in the server's
  // database: a playlist of millions of lines must not cost millions.
  while (number < CORDA_M3U_ENTRIES_MAX) {
    if (!next_line(&fb, line, too_long)) return 0;
    if (line.empty()) return 1;
    char c = line[0];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '#') continue;
    if (line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    number++;
    // A NUL would cut the entry short and name another file; control bytes
    // could not travel in XML.
    if (too_long || line.find('\0') != std::string::npos) continue;
    char *utf8 = nullptr;
    if (!utf8_from_native2(line.c_str(), &utf8)) continue;
    bool usable = xml_gen_is_legal_value(utf8) && full_path(folder, utf8, full) && is_regular_file(full);
    sys_alloc_free(utf8);
    if (!usable) continue;
    char digits[24];
    std::string name = std::string(prefix) + "/" + std::string(digits, sys_str_fmt_uint64(digits, number));
    name += dot_suffix(full);
    e.paths.push_back(full);
    e.names.push_back(std::move(name));
  }
  return 1;
}

}  // namespace

extern "C" int corda_m3u_parse(const char *path, const char *prefix, sys_str_list *paths, sys_str_list *names)
{
  if (!path || !prefix) return 0;
  entries e;
  try {
    if (!read_playlist(path, prefix, e)) return 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }
  sys_str_list p = nullptr, n = nullptr;
  if ((paths && !to_list(e.paths, &p)) || (names && !to_list(e.names, &n))) {
    sys_str_list_free(p);
    return 0;
  }
  if (paths) *paths = p;
  if (names) *names = n;
  return 1;
}
