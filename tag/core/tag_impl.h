// Internal to the metadata library's core: a text under construction that
// frees itself unless handed over.
#pragma once

#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tag {

struct text : own::stralloc {
  bool add(std::string_view v) { return v.size() < UINT32_MAX && sys_stralloc_catb(&s, v.data(), uint32_t(v.size())); }
  bool escaped(const char *v) { return xml_gen_encode_append(&s, v); }
  bool element(const char *name, const char *value) { return xml_gen_element_append(&s, name, value); }
  bool attribute(const char *name, const char *value) { return xml_gen_attribute_append(&s, name, value); }
  // NUL-terminates and hands the buffer over.
  bool give(char **out)
  {
    if (!sys_stralloc_catb(&s, "", 1)) return false;
    *out = s.buf;
    s = sys_stralloc_rec{};
    return true;
  }
};

// A heap copy of s, NUL-terminated; NULL when memory runs out.
inline char *copy_of(std::string_view s)
{
  char *p = static_cast<char *>(sys_alloc(s.size() + 1));
  if (!p) return nullptr;
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  p[s.size()] = '\0';
  return p;
}

// Appends an owned name and value as one entry, so that the arrays never
// differ in length; on failure both strings are freed.
int add_owned(char *name, char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values);

// Frees every string of the list and both arrays.
inline void list_free(tag_property_list &list)
{
  tag_property_list_clear(&list.names, &list.values);
  sys_ptralloc_free(&list.names);
  sys_ptralloc_free(&list.values);
}

}  // namespace tag
