// The local-server client's handle, its time-outs and cancel flag, and the
// ContentDirectory calls handed on to the action layer.
#include "avcpl_impl.h"

#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/uri.h>

namespace avcpl {

namespace {

// "http://127.0.0.1:65535/control/ContentDirectory" is the longest URL.
constexpr uint32_t url_max = 100;
constexpr char url_head[] = "http://127.0.0.1:";

}  // namespace

http_client *client_for(tarvo_avcpl_handle *handle, const char *path)
{
  if (!handle || !*handle) return nullptr;
  char url[url_max];
  uint32_t n = sizeof url_head - 1;
  sys_byte_copy(url, n, url_head);
  n += sys_str_fmt_uint16(url + n, (*handle)->port);
  uint32_t len = sys_str_len(path);
  if (n + len >= url_max) return nullptr;
  sys_byte_copy(url + n, len + 1, path);
  return http_client_set_url(&(*handle)->client, url) ? &(*handle)->client : nullptr;
}

}  // namespace avcpl

namespace {

http_client *client_of(tarvo_avcpl_handle *handle) { return handle && *handle ? &(*handle)->client : nullptr; }

// A ContentDirectory call: the URL first, then the client form.
template <class Run> uint32_t on_cds(tarvo_avcpl_handle *handle, Run run)
{
  http_client *c = avcpl::client_for(handle, avcpl::cds_path);
  return c ? run(c) : SOAP_ACTION_FAILED;
}

}  // namespace

extern "C" {

int tarvo_avcpl_init(tarvo_avcpl_handle *handle, uint16_t port)
{
  if (!handle) return 0;
  platform_init();
  *handle = nullptr;
  auto *rec = static_cast<tarvo_avcpl_rec *>(sys_alloc_zero(sizeof(tarvo_avcpl_rec)));
  if (!rec) return 0;
  if (!http_client_init2(&rec->client)) {
    sys_alloc_free(rec);
    return 0;
  }
  rec->port = port;
  *handle = rec;
  return 1;
}

void tarvo_avcpl_free(tarvo_avcpl_handle *handle)
{
  if (!handle || !*handle) return;
  http_client_free(&(*handle)->client);
  sys_alloc_free(*handle);
  // A second free of the same variable finds NULL.
  *handle = nullptr;
}

void tarvo_avcpl_set_connect_timeout(tarvo_avcpl_handle *handle, uint32_t ms)
{
  if (http_client *c = client_of(handle)) http_client_set_connect_timeout(c, ms);
}
void tarvo_avcpl_set_read_timeout(tarvo_avcpl_handle *handle, uint32_t ms)
{
  if (http_client *c = client_of(handle)) http_client_set_read_timeout(c, ms);
}
void tarvo_avcpl_set_write_timeout(tarvo_avcpl_handle *handle, uint32_t ms)
{
  if (http_client *c = client_of(handle)) http_client_set_write_timeout(c, ms);
}
int tarvo_avcpl_is_connect_timeout(tarvo_avcpl_handle *handle)
{
  http_client *c = client_of(handle);
  return c && http_client_is_connect_timeout(c);
}
int tarvo_avcpl_is_read_timeout(tarvo_avcpl_handle *handle)
{
  http_client *c = client_of(handle);
  return c && http_client_is_read_timeout(c);
}
int tarvo_avcpl_is_write_timeout(tarvo_avcpl_handle *handle)
{
  http_client *c = client_of(handle);
  return c && http_client_is_write_timeout(c);
}
void tarvo_avcpl_set_cancel(tarvo_avcpl_handle *handle, int flag)
{
  if (http_client *c = client_of(handle)) http_client_set_cancel(c, flag);
}
int tarvo_avcpl_is_canceled(tarvo_avcpl_handle *handle)
{
  http_client *c = client_of(handle);
  return c && http_client_is_canceled(c);
}

uint32_t tarvo_avcpl_action(tarvo_avcpl_handle *handle, const char *service_type, const char *action,
                            const char *body, sys_str_list *names, sys_str_list *values)
{
  http_client *c = client_of(handle);
  // A client that never had a URL has no host to go to.
  uri_rec *url = c ? http_client_get_url(c) : nullptr;
  if (!url || !url->host || !*url->host) return SOAP_ACTION_FAILED;
  return soap_client_action2(c, service_type, action, nullptr, body, names, values);
}

uint32_t tarvo_avcpl_get_system_update_id(tarvo_avcpl_handle *handle, uint32_t *id)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_get_system_update_id2(c, id); });
}

uint32_t tarvo_avcpl_browse_metadata(tarvo_avcpl_handle *handle, const char *object_id, const char *filter,
                                     avcp_didl_object **object, uint32_t *update_id)
{
  return on_cds(handle,
                [&](http_client *c) { return tarvo_avcp_cds_browse_metadata(c, object_id, filter, object, update_id); });
}

uint32_t tarvo_avcpl_browse_direct_children(tarvo_avcpl_handle *handle, const char *object_id, const char *filter,
                                            uint32_t starting_index, uint32_t requested_count,
                                            const char *sort_criteria, avcp_didl_object_list *list,
                                            uint32_t *number_returned, uint32_t *total_matches,
                                            uint32_t *update_id)
{
  return on_cds(handle, [&](http_client *c) {
    return tarvo_avcp_cds_browse_direct_children(c, object_id, filter, starting_index, requested_count,
                                                 sort_criteria, list, number_returned, total_matches, update_id);
  });
}

uint32_t tarvo_avcpl_search(tarvo_avcpl_handle *handle, const char *container_id, const char *search_criteria,
                            const char *filter, uint32_t starting_index, uint32_t requested_count,
                            const char *sort_criteria, avcp_didl_object_list *list, uint32_t *number_returned,
                            uint32_t *total_matches, uint32_t *update_id)
{
  return on_cds(handle, [&](http_client *c) {
    return tarvo_avcp_cds_search(c, container_id, search_criteria, filter, starting_index, requested_count,
                                 sort_criteria, list, number_returned, total_matches, update_id);
  });
}

#define AVCPL_EDIT_DEFINE_(s, a, IP, IA)                                                              \
  TARVO_AVCPL_PICK_##a(uint32_t tarvo_avcpl_##a(tarvo_avcpl_handle *handle AVCP_LEAD_LIST(IP)) {            \
    return on_cds(handle, [&](http_client *c) { return tarvo_avcp_cds_##a(c AVCP_LEAD_LIST(IA)); });          \
  })
TARVO_AVCP_CDS_EDIT(AVCPL_EDIT_DEFINE_)

uint32_t tarvo_avcpl_destroy_object(tarvo_avcpl_handle *handle, const char *object_id)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_destroy_object2(c, object_id); });
}

uint32_t tarvo_avcpl_create_reference(tarvo_avcpl_handle *handle, const char *container_id, const char *object_id,
                                      char **new_id)
{
  return on_cds(handle,
                [&](http_client *c) { return avcp_cds_create_reference2(c, container_id, object_id, new_id); });
}

uint32_t tarvo_avcpl_share_list(tarvo_avcpl_handle *handle, sys_str_list *paths)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_share_list2(c, paths); });
}

uint32_t tarvo_avcpl_share_state(tarvo_avcpl_handle *handle, const char *path, int *state)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_share_state2(c, path, state); });
}

uint32_t tarvo_avcpl_share(tarvo_avcpl_handle *handle, const char *path)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_share2(c, path); });
}

uint32_t tarvo_avcpl_unshare(tarvo_avcpl_handle *handle, const char *path)
{
  return on_cds(handle, [&](http_client *c) { return avcp_cds_unshare2(c, path); });
}

}  // extern "C"
