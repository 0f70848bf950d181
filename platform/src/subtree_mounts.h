// The mount table as the folder-tree watch compares it: each mount's id
// and mount point from text in the form of /proc/self/mountinfo, the
// mounts that came or went between two tables, and whether a mount point
// bears on a folder.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace subtree_mounts {

struct mount {
  uint64_t id = 0;
  std::string point;  // unescaped
  auto operator<=>(const mount &) const = default;
};
// Sorted: two tables are compared in one pass.
using table = std::vector<mount>;

// The mounts of the text; false when a line is not of that form.
bool parse(std::string_view text, table *out);
// The mount points of the mounts in one table and not in the other.
std::vector<std::string> changed(const table &before, const table &after);
// Whether a mount on point covers the folder path (absolute, without a
// trailing "/"), a folder above it or one below it.
bool touches(std::string_view point, std::string_view path);

}  // namespace subtree_mounts
