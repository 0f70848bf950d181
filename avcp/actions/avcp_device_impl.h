// The one body under every device-addressed call: the control URL by UDN,
// the shared client under the "hc" lock, the client form, the disconnect.
#pragma once

#include <tarvo_avcp/tarvo_avcp.h>

namespace avcp {

uint32_t device_run(tarvo_cp_ctx **ctx, const char *udn, const char *service_type,
                    uint32_t (*run)(http_client *, void *), void *arg);

template <class Run> uint32_t on_device(tarvo_cp_ctx **ctx, const char *udn, const char *service_type, Run run)
{
  return device_run(
      ctx, udn, service_type, [](http_client *c, void *arg) { return (*static_cast<Run *>(arg))(c); }, &run);
}

}  // namespace avcp

// A member whose client form is `target`, taking the parameters IP then
// OP (parenthesised lists), called with the names IA then OA.
#define AVCP_DEVICE_DEFINE_(s, a, IP, IA, OP, OA, target)                                                   \
  uint32_t tarvo_avcp_##a(tarvo_cp_ctx **ctx, const char *udn AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP))         \
  {                                                                                                          \
    return avcp::on_device(ctx, udn, avcp_type_##s(),                                                        \
                           [&](http_client *c) { return target(c AVCP_LEAD_LIST(IA) AVCP_LEAD_LIST(OA)); }); \
  }
