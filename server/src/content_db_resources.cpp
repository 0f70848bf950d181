// Resource values as the database keeps them: the server's own URL
// prefixes cut from URIs, and protocolInfos registered with the
// ConnectionManager.
#include "content_db_impl.h"

#include <vennard/connection_manager.h>
#include <vennard/media_http.h>

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

#include <cstring>

namespace cdb {

namespace {

bool prefix_strip(char *value, char *const *prefixes)
{
  for (char *const *p = prefixes; p && *p; p++) {
    uint32_t n = sys_str_len(*p);
    if (!sys_str_start(value, *p) || (value[n] && value[n] != '/')) continue;
    std::memmove(value, value + n, std::strlen(value + n) + 1);
    return true;
  }
  return false;
}

bool uri_value(const char *element, const char *attribute)
{
  avcp_didl_name_pair pair{element, attribute};
  return didl_value_type(&pair) == AVCP_DIDL_TYPE_URI;
}

}  // namespace

bool url_prefixes_strip(server_rec *s, didl_object *o)
{
  sys_str_list prefixes = nullptr;
  if (!media_base_urls(s, sys_ip4_loopback(), 0, &prefixes)) return false;
  for (uint32_t i = 0; i < o->attributes.names.len; i++)
    if (uri_value(o->element, static_cast<const char *>(o->attributes.names.buf[i])))
      prefix_strip(static_cast<char *>(o->attributes.values.buf[i]), prefixes);
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<didl_property *>(o->properties.buf[i]);
    if (uri_value(p->element, nullptr)) prefix_strip(p->text, prefixes);
    for (uint32_t k = 0; k < p->attributes.names.len; k++)
      if (uri_value(p->element, static_cast<const char *>(p->attributes.names.buf[k])))
        prefix_strip(static_cast<char *>(p->attributes.values.buf[k]), prefixes);
  }
  sys_str_list_free(prefixes);
  return true;
}

void protocol_infos_register(server_rec *s, const didl_object *o, const char **last)
{
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    const char *pi = didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO));
    if (last && pi && pi == *last) continue;
    cm_protocol_info_add(s, pi);
    if (last && pi && didl_value_shared(pi)) *last = pi;
  }
}

}  // namespace cdb
