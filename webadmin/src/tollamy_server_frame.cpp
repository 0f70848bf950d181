// The two local-server calls of the request frame (the login page's name,
// the default file-type list), apart from the other wrappers so that a
// test of the frame can answer them itself.
#include <tarvo_util/sys_owner.h>

#include "tollamy_server.h"
#include "tollamy_server_call.h"

bool tollamy_server_file_types(uint16_t port, std::vector<std::string> *exts, std::vector<std::string> *mimes)
{
  own::str_list e, m;
  if (!tollamy_server_call(
          port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_file_type_list(h, &e.l, &m.l, nullptr); }))
    return false;
  tollamy_strings(e.l, exts);
  tollamy_strings(m.l, mimes);
  return true;
}

bool tollamy_server_friendly_name(uint16_t port, std::string *name)
{
  own::str s;
  if (!tollamy_server_call(port, [&](tarvo_avcpl_handle *h) { return tarvo_avcpl_get_friendly_name(h, &s.s); }))
    return false;
  name->assign(s.s ? s.s : "");
  return true;
}
