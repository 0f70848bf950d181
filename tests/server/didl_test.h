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

// Objects as text that shows every name, value and byte: element, then
// each attribute and property in record order; control and non-ASCII bytes
// as \xNN.
inline std::string dump(const sys_ptralloc_rec &objects)
{
  std::string out;
  auto bytes = [&](const char *s) {
    for (; s && *s; s++) {
      auto c = static_cast<unsigned char>(*s);
      static const char hex[] = "0123456789abcdef";
      if (c < 0x20 || c >= 0x7f || c == '\\')
        out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
      else
        out += char(c);
    }
  };
  auto attributes = [&](const didl_attributes &a) {
    for (uint32_t i = 0; i < a.names.len; i++) {
      out += ' ';
      bytes(static_cast<const char *>(a.names.buf[i]));
      out += "=[";
      bytes(static_cast<const char *>(a.values.buf[i]));
      out += ']';
    }
  };
  for (uint32_t i = 0; i < objects.len; i++) {
    auto *o = static_cast<const didl_object *>(objects.buf[i]);
    out += o->element;
    attributes(o->attributes);
    out += '\n';
    for (uint32_t k = 0; k < o->properties.len; k++) {
      auto *p = static_cast<const didl_property *>(o->properties.buf[k]);
      out += std::string("  ") + p->element;
      attributes(p->attributes);
      out += " {";
      bytes(p->text);
      out += "}\n";
    }
  }
  return out;
}

// The one object of body (unchecked), or nullptr.
inline object_ptr parse(const std::string &body, int check = 0)
{
  didl_object *o = nullptr;
  if (!didl_parse_one(doc(body).c_str(), check, &o)) return nullptr;
  return object_ptr(o);
}

}  // namespace didl_test
