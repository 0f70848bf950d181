// Helpers of the metadata library's tests.
#pragma once

#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>

#include <string>
#include <utility>
#include <vector>

namespace tag_test {

// A property list that frees itself.
struct props {
  tag_property_list l{};
  props() = default;
  props(const props &) = delete;
  ~props()
  {
    tag_property_list_clear(&l.names, &l.values);
    sys_ptralloc_free(&l.names);
    sys_ptralloc_free(&l.values);
  }
  sys_ptralloc_rec *n() { return &l.names; }
  sys_ptralloc_rec *v() { return &l.values; }
  std::vector<std::pair<std::string, std::string>> all() const
  {
    std::vector<std::pair<std::string, std::string>> r;
    for (uint32_t i = 0; i < l.names.len; i++)
      r.emplace_back(static_cast<const char *>(l.names.buf[i]), static_cast<const char *>(l.values.buf[i]));
    return r;
  }
  // The first value of the name, or "<none>".
  std::string get(const char *name) const
  {
    const char *v = tag_property_value(&l.names, &l.values, name);
    return v ? v : "<none>";
  }
};

// The item text of a file, or "<failed>".
inline std::string item(const std::string &path, const char *mime)
{
  char *text = nullptr;
  if (!tarvo_tag_item(path.c_str(), mime, &text)) return "<failed>";
  std::string r = text;
  sys_alloc_free(text);
  return r;
}

}  // namespace tag_test
