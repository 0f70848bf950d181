// links: tarvo_cp tarvo_util
// One datagram through the control point's announcement and search-response
// checks, with and without a target filter.
#include "../../upnp/cp/cp_impl.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size >= CP_SSDP_DATAGRAM_MAX) return 0;
  char buf[CP_SSDP_DATAGRAM_MAX];
  sys_byte_copy(buf, size, data);
  buf[size] = 0;
  static char ms1[] = "urn:schemas-upnp-org:device:MediaServer:1", udn[] = "uuid:1";
  static char *targets[] = {ms1, udn, nullptr};
  static const uint8_t source[4] = {127, 0, 0, 1};
  for (char *const *t : {static_cast<char *const *>(targets), static_cast<char *const *>(nullptr)}) {
    cp_ssdp_msg m;
    cp_ssdp_parse(buf, uint32_t(size), t, source, &m);
    bool has_all = m.location && m.usn;
    if ((m.kind == CP_SSDP_ALIVE || m.kind == CP_SSDP_RESPONSE) && (!has_all || !m.nt)) std::abort();
    if (m.kind == CP_SSDP_BYEBYE && !m.usn) std::abort();
    cp_ssdp_msg_free(&m);
  }
  return 0;
}
