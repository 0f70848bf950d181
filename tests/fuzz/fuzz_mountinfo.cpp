// links: tarvo_platform tarvo_util
// The mount table reader of the folder-tree watch on arbitrary text: a
// table that reads writes back, escaped as the kernel does, into text that
// reads to the same table; a table differs from itself in nothing and from
// none in each of its mounts, and every mount point bears on itself.
#include "subtree_mounts.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void check(bool ok)
{
  if (!ok) std::abort();
}

std::string escaped(const std::string &s)
{
  std::string out;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char oct[5];
      std::snprintf(oct, sizeof oct, "\\%03o", unsigned(static_cast<unsigned char>(c)));
      out += oct;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string_view text(reinterpret_cast<const char *>(data), size);
  subtree_mounts::table t;
  if (!subtree_mounts::parse(text, &t)) return 0;
  std::string back;
  for (const subtree_mounts::mount &m : t) {
    check(!m.point.empty() && m.point[0] == '/' && subtree_mounts::touches(m.point, m.point));
    back += std::to_string(m.id) + " 1 0:1 / " + escaped(m.point) + " rw - tmpfs none rw\n";
  }
  subtree_mounts::table again;
  check(subtree_mounts::parse(back, &again) && again == t);
  check(subtree_mounts::changed(t, t).empty() && subtree_mounts::changed({}, t).size() == t.size());
  return 0;
}
