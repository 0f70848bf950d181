// ContentDirectory Browse and Search on the caller's client, with the
// Result handed back as parsed DIDL-Lite objects.
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>

namespace {

// The Result as a list for the caller: a parse that fails is 501.
uint32_t hand_list(uint32_t r, const char *result, avcp_didl_object_list *list)
{
  if (r || !list) return r;
  avcp_didl_object_list parsed = nullptr;
  if (!avcp_didl_parse(result ? result : "", &parsed)) return SOAP_ACTION_FAILED;
  *list = parsed;
  return 0;
}

}  // namespace

extern "C" {

uint32_t tarvo_avcp_cds_browse_metadata(http_client *client, const char *object_id, const char *filter,
                                        avcp_didl_object **object, uint32_t *update_id)
{
  own::str result;
  uint32_t r = avcp_cds_browse_metadata2(client, object_id, filter, &result.s, update_id);
  if (r || !object) return r;
  avcp_didl_object_list parsed = nullptr;
  if (!avcp_didl_parse(result.s, &parsed)) return SOAP_ACTION_FAILED;
  // Exactly one object: a metadata answer naming two is not the object.
  if (!parsed[0] || parsed[1]) {
    avcp_didl_object_list_free(parsed);
    return SOAP_ACTION_FAILED;
  }
  *object = parsed[0];
  parsed[0] = nullptr;
  avcp_didl_object_list_free(parsed);
  return 0;
}

uint32_t tarvo_avcp_cds_browse_direct_children(http_client *client, const char *object_id, const char *filter,
                                               uint32_t starting_index, uint32_t requested_count,
                                               const char *sort_criteria, avcp_didl_object_list *list,
                                               uint32_t *number_returned, uint32_t *total_matches,
                                               uint32_t *update_id)
{
  own::str result;
  uint32_t r = avcp_cds_browse_direct_children2(client, object_id, filter, starting_index, requested_count,
                                                sort_criteria, &result.s, number_returned, total_matches,
                                                update_id);
  return hand_list(r, result.s, list);
}

uint32_t tarvo_avcp_cds_search(http_client *client, const char *container_id, const char *search_criteria,
                               const char *filter, uint32_t starting_index, uint32_t requested_count,
                               const char *sort_criteria, avcp_didl_object_list *list, uint32_t *number_returned,
                               uint32_t *total_matches, uint32_t *update_id)
{
  own::str result;
  uint32_t r = avcp_cds_search2(client, container_id, search_criteria, filter, starting_index, requested_count,
                                sort_criteria, &result.s, number_returned, total_matches, update_id);
  return hand_list(r, result.s, list);
}

}  // extern "C"
