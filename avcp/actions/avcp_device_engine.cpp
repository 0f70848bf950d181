// Device-addressed calls: one member per action of every service, all on
// one body that borrows the control point's shared client.
#include "avcp_device_impl.h"

#include <tarvo_avcp/avcp_action_buf.h>
#include <tarvo_cp/tarvo_cp_impl.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>

namespace avcp {

uint32_t device_run(tarvo_cp_ctx **ctx, const char *udn, const char *service_type,
                    uint32_t (*run)(http_client *, void *), void *arg)
{
  if (!ctx || !*ctx) return SOAP_ACTION_FAILED;
  own::str url;
  // An unknown device or service ends here, before anything is sent.
  if (!tarvo_cp_get_control_url(ctx, udn, service_type, &url.s)) return SOAP_ACTION_FAILED;
  tarvo_cp_ctx *cp = *ctx;
  if (!tarvo_cp_impl_hc_lock(cp)) return SOAP_ACTION_FAILED;
  http_client *client = tarvo_cp_impl_http_client(cp);
  uint32_t r = SOAP_ACTION_FAILED;
  if (http_client_set_url(client, url.s)) {
    r = run(client, arg);
    // No connection outlives the call: the next one may go to another device.
    http_client_disconnect(client);
  }
  tarvo_cp_impl_hc_unlock(cp);
  return r;
}

}  // namespace avcp

#define AVCP_DEVICE_OUT_(s, a, IP, IA, OP, OA) AVCP_DEVICE_DEFINE_(s, a, IP, IA, OP, OA, avcp_##s##_##a##2)
#define AVCP_DEVICE_NONE_(s, a, IP, IA) AVCP_DEVICE_DEFINE_(s, a, IP, IA, (), (), avcp_##s##_##a##2)
#define AVCP_DEVICE_CDS_OUT_(s, a, IP, IA, OP, OA) TARVO_AVCP_PICK_##a(AVCP_DEVICE_OUT_(s, a, IP, IA, OP, OA))
#define AVCP_DEVICE_CDS_NONE_(s, a, IP, IA) TARVO_AVCP_PICK_##a(AVCP_DEVICE_NONE_(s, a, IP, IA))
#define AVCP_DEVICE_DIDL_(s, a, IP, IA) AVCP_DEVICE_DEFINE_(s, a, IP, IA, (), (), tarvo_avcp_cds_##a)

extern "C" {

AVCP_CDS_ACTIONS_OUT(AVCP_DEVICE_CDS_OUT_)
AVCP_CDS_ACTIONS_NONE(AVCP_DEVICE_CDS_NONE_)
TARVO_AVCP_CDS_DIDL(AVCP_DEVICE_DIDL_)
TARVO_AVCP_CDS_EDIT(AVCP_DEVICE_DIDL_)
AVCP_AVTS_ACTIONS_OUT(AVCP_DEVICE_OUT_)
AVCP_AVTS_ACTIONS_NONE(AVCP_DEVICE_NONE_)
AVCP_CMS_ACTIONS_OUT(AVCP_DEVICE_OUT_)
AVCP_CMS_ACTIONS_NONE(AVCP_DEVICE_NONE_)
AVCP_RCS_ACTIONS_OUT(AVCP_DEVICE_OUT_)
AVCP_RCS_ACTIONS_NONE(AVCP_DEVICE_NONE_)

// The buffer forms move the buffer in front of the action's arguments.
uint32_t tarvo_avcp_browse_metadata_buf(tarvo_cp_ctx **ctx, const char *udn, const char *object_id,
                                        const char *filter, char *buf, uint32_t size, uint32_t *update_id)
{
  return avcp::on_device(ctx, udn, avcp_type_cds(), [&](http_client *c) {
    return avcp_cds_browse_metadata_buf2(c, buf, size, object_id, filter, update_id);
  });
}

uint32_t tarvo_avcp_browse_direct_children_buf(tarvo_cp_ctx **ctx, const char *udn, const char *object_id,
                                               const char *filter, uint32_t starting_index,
                                               uint32_t requested_count, const char *sort_criteria, char *buf,
                                               uint32_t size, uint32_t *number_returned, uint32_t *total_matches,
                                               uint32_t *update_id)
{
  return avcp::on_device(ctx, udn, avcp_type_cds(), [&](http_client *c) {
    return avcp_cds_browse_direct_children_buf2(c, buf, size, object_id, filter, starting_index, requested_count,
                                                sort_criteria, number_returned, total_matches, update_id);
  });
}

uint32_t tarvo_avcp_search_buf(tarvo_cp_ctx **ctx, const char *udn, const char *container_id,
                               const char *search_criteria, const char *filter, uint32_t starting_index,
                               uint32_t requested_count, const char *sort_criteria, char *buf, uint32_t size,
                               uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id)
{
  return avcp::on_device(ctx, udn, avcp_type_cds(), [&](http_client *c) {
    return avcp_cds_search_buf2(c, buf, size, container_id, search_criteria, filter, starting_index,
                                requested_count, sort_criteria, number_returned, total_matches, update_id);
  });
}

// Both servers under one hold of the lock: the source's object, then the
// destination's URL on the same client.
uint32_t tarvo_avcp_copy_object(tarvo_cp_ctx **ctx, const char *source_udn, const char *source_id,
                                const char *dest_udn, const char *dest_parent_id, avcp_didl_object **object)
{
  return avcp::on_device(ctx, source_udn, avcp_type_cds(), [&](http_client *c) {
    avcp_didl_object *source = nullptr;
    uint32_t r = tarvo_avcp_cds_browse_metadata(c, source_id, "*", &source, nullptr);
    own::ptr<avcp_didl_object, avcp_didl_object_free> keep(source);
    if (r) return r;
    http_client_disconnect(c);
    own::str url;
    if (!tarvo_cp_get_control_url(ctx, dest_udn, avcp_type_cds(), &url.s) || !http_client_set_url(c, url.s))
      return uint32_t(SOAP_ACTION_FAILED);
    return tarvo_avcp_cds_copy_object(c, dest_parent_id, source, object);
  });
}

}  // extern "C"
