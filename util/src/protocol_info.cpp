// protocolInfo: protocol:network:content_format:additional_info.
#include <tarvo_util/dlna.h>

#include "text_build.h"

#include <string_view>

extern "C" {

int protocol_info_parse(protocol_info_rec *rec, const char *s)
{
  std::string_view v(s), f[4];
  for (int i = 0; i < 3; i++) {
    size_t c = v.find(':');
    if (c == std::string_view::npos) return 0;
    f[i] = v.substr(0, c);
    v = v.substr(c + 1);
  }
  f[3] = v;
  if (v.find(':') != std::string_view::npos) return 0;
  protocol_info_rec r{};
  if (!tarvo::heap_copy(f[0], &r.protocol) || !tarvo::heap_copy(f[1], &r.network) ||
      !tarvo::heap_copy(f[2], &r.content_format) || !tarvo::heap_copy(f[3], &r.additional_info)) {
    protocol_info_free(&r);
    return 0;
  }
  *rec = r;
  return 1;
}

void protocol_info_free(protocol_info_rec *rec)
{
  if (!rec) return;
  for (char *p : {rec->protocol, rec->network, rec->content_format, rec->additional_info}) sys_alloc_free(p);
}

}  // extern "C"
