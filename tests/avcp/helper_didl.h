// Shared by the DIDL-Lite tests: documents by hand and record shortcuts.
#pragma once

#include <tarvo_avcp/avcp_didl.h>

#include <string>

namespace didl_test {

// A document with every namespace the model knows around body.
inline std::string doc(const std::string &body)
{
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
         " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
         " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\" xmlns:tarvo=\"" AVCP_DIDL_NS_TARVO_URI "\""
         " xmlns:arib=\"urn:schemas-arib-or-jp:elements-1-0/\">" +
         body + "</DIDL-Lite>";
}

inline std::string item(const std::string &id, const std::string &props, const std::string &attrs = "")
{
  return "<item id=\"" + id + "\"" + attrs + ">" + props + "</item>";
}

// Owns a parsed list.
struct parsed {
  avcp_didl_object_list list = nullptr;
  int ok = 0;
  explicit parsed(const std::string &text) { ok = avcp_didl_parse(text.c_str(), &list); }
  ~parsed() { avcp_didl_object_list_free(list); }
  size_t size() const
  {
    size_t n = 0;
    while (list && list[n]) n++;
    return n;
  }
  avcp_didl_object *operator[](size_t i) const { return list[i]; }
};

inline std::string text_of(const avcp_didl_object *o, const char *element)
{
  const avcp_didl_property *p = avcp_didl_property_find(o, element);
  return p ? p->text : "<none>";
}

template <class R> std::string attr_of(const R *r, const char *name)
{
  const char *v = avcp_didl_attribute_find(r->attribute_names, r->attribute_values, name);
  return v ? v : "<none>";
}

}  // namespace didl_test
