// Ini files read and rewritten with the private-profile rules.
#include <tarvo_platform/profile.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view blanks = " \t\r";

std::string_view trim(std::string_view s)
{
  size_t b = s.find_first_not_of(blanks);
  if (b == s.npos) return {};
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

bool same(std::string_view a, const char *b)
{
  return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

// One line of the file without its end; `end` keeps "\r\n", "\n" or "".
struct line {
  std::string_view text, end;
};

std::vector<line> split(std::string_view data)
{
  std::vector<line> lines;
  while (!data.empty()) {
    size_t nl = data.find('\n');
    std::string_view l = data.substr(0, nl), end = nl == data.npos ? "" : "\n";
    // Only a line feed ends a line; a CR before it belongs to the end.
    if (nl != data.npos && !l.empty() && l.back() == '\r') {
      l.remove_suffix(1);
      end = "\r\n";
    }
    lines.push_back({l, end});
    data.remove_prefix(nl == data.npos ? data.size() : nl + 1);
  }
  return lines;
}

// The section name of a "[name]" line, or false.
bool section_of(std::string_view l, std::string_view *name)
{
  if (l.size() > PROFILE_LINE_MAX) return false;
  l = trim(l);
  if (l.size() < 2 || l.front() != '[') return false;
  size_t close = l.find(']');
  if (close == l.npos) return false;
  *name = trim(l.substr(1, close - 1));
  return true;
}

// The key and value of a "key=value" line, or false.
bool pair_of(std::string_view l, std::string_view *key, std::string_view *value)
{
  if (l.size() > PROFILE_LINE_MAX) return false;
  size_t eq = l.find('=');
  if (eq == l.npos) return false;
  *key = trim(l.substr(0, eq));
  *value = trim(l.substr(eq + 1));
  return true;
}

// Where a section's lines are: [head, body_end) with head the "[...]" line,
// and last_key the line after its last key (where a new key goes).
struct place {
  size_t head = SIZE_MAX, body_end = 0, last_key = 0, key = SIZE_MAX;
};

place find(const std::vector<line> &lines, const char *section, const char *key)
{
  place p;
  for (size_t i = 0; i < lines.size(); i++) {
    std::string_view name, k, v;
    if (section_of(lines[i].text, &name)) {
      if (p.head != SIZE_MAX) break;
      if (same(name, section)) p.head = i, p.last_key = p.body_end = i + 1;
      continue;
    }
    if (p.head == SIZE_MAX) continue;
    p.body_end = i + 1;
    if (!pair_of(lines[i].text, &k, &v)) continue;
    p.last_key = i + 1;
    if (key && p.key == SIZE_MAX && same(k, key)) p.key = i;
  }
  return p;
}

bool read_fd(int fd, std::string *data)
{
  char buf[8192];
  for (;;) {
    uint32_t got = 0;
    if (!sys_file_read(fd, buf, sizeof buf, &got)) return false;
    if (got == 0) return true;
    if (data->size() + got > PROFILE_FILE_MAX) return false;
    data->append(buf, got);
  }
}

bool read_file(const char *path, std::string *data)
{
  own::file f(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  return f.fd >= 0 && read_fd(f.fd, data);
}

// The value of the key, or false when the file, section or key is missing.
bool lookup(const char *section, const char *key, const char *path, std::string *out)
{
  std::string data;
  if (!section || !key || !path || !read_file(path, &data)) return false;
  std::vector<line> lines = split(data);
  place p = find(lines, section, key);
  if (p.key == SIZE_MAX) return false;
  std::string_view k, v;
  pair_of(lines[p.key].text, &k, &v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  out->assign(v);
  return true;
}

std::string rewrite(const std::string &data, const char *section, const char *key, const char *value)
{
  std::vector<line> lines = split(data);
  std::string_view eol = "\n";
  for (const line &l : lines)
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }
  place p = find(lines, section, key);
  std::string entry = key && value ? std::string(key) + "=" + value + std::string(eol) : std::string();
  std::string out;
  auto keep = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; i++) (out += lines[i].text) += lines[i].end;
  };
  if (p.head == SIZE_MAX) {
    keep(0, lines.size());
    if (entry.empty()) return out;
    if (!out.empty() && !lines.back().end.size()) out += eol;
    return out + "[" + section + "]" + std::string(eol) + entry;
  }
  if (!key) {
    keep(0, p.head);
    keep(p.body_end, lines.size());
  } else if (p.key != SIZE_MAX) {
    keep(0, p.key);
    out += entry;
    keep(p.key + 1, lines.size());
  } else {
    keep(0, p.last_key);
    if (p.last_key == lines.size() && !lines.back().end.size()) out += eol;
    out += entry;
    keep(p.last_key, lines.size());
  }
  return out;
}

}  // namespace

extern "C" {

size_t profile_get_string(const char *section, const char *key, const char *def, char *out, size_t size,
                          const char *path)
{
  std::string value;
  if (!lookup(section, key, path, &value)) value = trim(def ? def : "");
  if (!out || size == 0) return 0;
  size_t n = std::min(value.size(), size - 1);
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return n;
}

int profile_get_int(const char *section, const char *key, int def, const char *path)
{
  std::string value;
  if (!lookup(section, key, path, &value)) return def;
  return int(std::strtol(value.c_str(), nullptr, 10));
}

int profile_write_string(const char *section, const char *key, const char *value, const char *path)
{
  if (!section || !path || std::strpbrk(section, "]\r\n") ||
      (key && (std::strpbrk(key, "=\r\n") || !*key)) || (value && std::strpbrk(value, "\r\n")))
    return 0;
  own::file f(open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (f.fd < 0 || flock(f.fd, LOCK_EX) != 0) return 0;
  std::string data;
  if (!read_fd(f.fd, &data)) return 0;
  std::string next = rewrite(data, section, key, value);
  if (next == data) return 1;
  if (next.size() > PROFILE_FILE_MAX || lseek(f.fd, 0, SEEK_SET) != 0) return 0;
  if (!sys_file_allwrite(f.fd, next.data(), uint32_t(next.size()))) return 0;
  return ftruncate(f.fd, off_t(next.size())) == 0;
}

}  // extern "C"
