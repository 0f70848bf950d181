// The mount table read for the folder-tree watch: ids and mount points of
// /proc/self/mountinfo lines, the difference of two tables, and the test
// of a changed mount point against a watched folder.
#include "subtree_mounts.h"

#include <algorithm>
#include <iterator>

namespace subtree_mounts {

namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, line end and backslash as \ooo.
std::string unescaped(std::string_view s)
{
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] <= '3' && is_octal(s[i + 1]) && is_octal(s[i + 2]) &&
        is_octal(s[i + 3])) {
      out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool number(std::string_view s, uint64_t *v)
{
  if (s.empty()) return false;
  uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9' || n > (UINT64_MAX - uint64_t(c - '0')) / 10) return false;
    n = n * 10 + uint64_t(c - '0');
  }
  *v = n;
  return true;
}

// One line: id, parent id, device, root, mount point, and more fields.
bool line_parse(std::string_view line, mount *m)
{
  std::string_view field[5];
  for (std::string_view &f : field) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    f = line.substr(0, space);
    line.remove_prefix(space + 1);
  }
  if (!number(field[0], &m->id) || field[4].empty() || field[4][0] != '/') return false;
  m->point = unescaped(field[4]);
  return true;
}

// Whether path lies strictly below folder.
bool below(std::string_view path, std::string_view folder)
{
  if (folder == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

}  // namespace

bool parse(std::string_view text, table *out)
{
  table t;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    mount m;
    if (!line_parse(line, &m)) return false;
    t.push_back(std::move(m));
  }
  std::sort(t.begin(), t.end());
  *out = std::move(t);
  return true;
}

std::vector<std::string> changed(const table &before, const table &after)
{
  table diff;
  std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(diff));
  std::vector<std::string> points;
  for (mount &m : diff) points.push_back(std::move(m.point));
  return points;
}

bool touches(std::string_view point, std::string_view path)
{
  return point == path || below(path, point) || below(point, path);
}

}  // namespace subtree_mounts
