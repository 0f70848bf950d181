#include "server_util.h"

#include <algorithm>

#include <tarvo_util/soap.h>
#include <tarvo_util/xml.h>

namespace srv {

bool lock_unless_stopping(sys_mutex_handle *mutex, int32_t &stopping)
{
  std::atomic_ref<int32_t> stop(stopping);
  if (stop.load() || !sys_mutex_lock(mutex)) return false;
  if (!stop.load()) return true;
  sys_mutex_unlock(mutex);
  return false;
}

const char *argument(char **names, char **values, const char *name)
{
  for (uint32_t i = 0; names[i] && values[i]; i++)
    if (!sys_str_diff(names[i], name)) return values[i];
  return nullptr;
}

bool hand_out(sys_stralloc_rec *sa, char **out)
{
  if (!sys_stralloc_append(sa, "")) return false;
  *out = sa->buf;
  *sa = sys_stralloc_rec{};
  return true;
}

namespace {

// The out-arguments after the first, the end of the response element and
// the hand-out.
uint32_t respond_rest(const device_request_info *, const char *action, sys_stralloc_rec *sa, bool ok,
                      out_values values, char **response)
{
  for (const auto &v : values) ok = ok && xml_gen_element_append(sa, v.first, v.second);
  return ok && soap_xml_response_end(sa, action) && hand_out(sa, response) ? kOk : kFailed;
}

}  // namespace

uint32_t respond(const device_request_info *info, const char *action, out_values values, char **response)
{
  own::stralloc sa;
  // Escaping makes a DIDL-Lite value about a third longer: room for it at
  // once, so that a large Result is not copied at each step of growth.
  uint64_t room = 512;
  for (const auto &v : values) room += sys_str_len(v.second) * uint64_t(3) / 2;
  bool ok = sys_stralloc_ready(&sa.s, uint32_t(std::min<uint64_t>(room, UINT32_MAX / 2))) &&
            soap_xml_response_begin(&sa.s, info->service_type, action);
  return respond_rest(info, action, &sa.s, ok, values, response);
}

uint32_t respond_written(const device_request_info *info, const char *action, const char *first,
                         const value_writer &write, out_values rest, char **response)
{
  own::stralloc sa;
  bool ok = soap_xml_response_begin(&sa.s, info->service_type, action) && sys_stralloc_cats(&sa.s, "<") &&
            sys_stralloc_cats(&sa.s, first) && sys_stralloc_cats(&sa.s, ">") && write(&sa.s) &&
            sys_stralloc_cats(&sa.s, "</") && sys_stralloc_cats(&sa.s, first) && sys_stralloc_cats(&sa.s, ">\r\n");
  return respond_rest(info, action, &sa.s, ok, rest, response);
}

}  // namespace srv
