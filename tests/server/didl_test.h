// Objects and texts for the DIDL-Lite model tests.
#pragma once

#include <vennard/didl.h>

#include <memory>
#include <string>

namespace didl_test {

struct object_deleter {
  void operator()(didl_object *o) const { didl_object_free(o); }
};
using object_ptr = std::unique_ptr<didl_object, object_deleter>;

inline std::string take(sys_stralloc_rec *sa)
{
  std::string s(sa->buf ? sa->buf : "", sa->len);
  sys_stralloc_free(sa);
  *sa = sys_stralloc_rec{};
  return s;
}

// A complete document around body, with every namespace declared.
inline std::string doc(const std::string &body)
{
  sys_stralloc_rec sa{};
  didl_xml_begin(&sa, 1);
  std::string s = take(&sa) + body;
  didl_xml_end(&sa);
  return s + take(&sa);
}

// The one object of body (unchecked), or nullptr.
inline object_ptr parse(const std::string &body, int check = 0)
{
  didl_object *o = nullptr;
  if (!didl_parse_one(doc(body).c_str(), check, &o)) return nullptr;
  return object_ptr(o);
}

}  // namespace didl_test
