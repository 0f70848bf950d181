// One Browse or Search sent to the ContentDirectory of many servers at
// once through the control point's parallel SOAP client, each useful
// answer parsed into a record of its own.
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_cp/tarvo_cp_impl.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>

namespace {

// What differs between the three forms: the request and its reading.
struct all_kind {
  const char *action;
  // Builds the body from the call's two texts.
  int (*make)(const char *a, const char *b, char **body);
  // Takes Result (and UpdateID where the form keeps it) out of the answer.
  int (*parse)(char **names, char **values, char **result, uint32_t *update_id);
};

int make_metadata(const char *object_id, const char *filter, char **body)
{
  return avcp_cds_make_browse_metadata_request(object_id, filter, body);
}
int make_children(const char *object_id, const char *filter, char **body)
{
  return avcp_cds_make_browse_direct_children_request(object_id, filter, 0, 0, "", body);
}
int make_search(const char *criteria, const char *filter, char **body)
{
  return avcp_cds_make_search_request("0", criteria, filter, 0, 0, "", body);
}
int parse_metadata(char **names, char **values, char **result, uint32_t *update_id)
{
  return avcp_cds_parse_browse_metadata_response(names, values, result, update_id);
}
int parse_children(char **names, char **values, char **result, uint32_t *update_id)
{
  return avcp_cds_parse_browse_direct_children_response(names, values, result, nullptr, nullptr, update_id);
}
int parse_search(char **names, char **values, char **result, uint32_t *)
{
  return avcp_cds_parse_search_response(names, values, result, nullptr, nullptr, nullptr);
}

constexpr all_kind kind_metadata{"Browse", make_metadata, parse_metadata};
constexpr all_kind kind_children{"Browse", make_children, parse_children};
constexpr all_kind kind_search{"Search", make_search, parse_search};

using result_list = own::ptr_array<tarvo_avcp_search_result, tarvo_avcp_search_result_free>;
using parallel_results = own::ptr<parallel_soap_client_result_rec *, parallel_soap_client_result_list_free>;

// The objects of one answer, or nullptr when it is of no use.
avcp_didl_object_list answer_objects(const all_kind &k, parallel_soap_client_result_rec *res, uint32_t *update_id)
{
  if (res->state != PARALLEL_SOAP_ANSWERED || res->error_code != 0) return nullptr;
  own::str text;
  *update_id = 0;
  int parsed = k.parse(res->out_names, res->out_values, &text.s, update_id);
  sys_str_list_free(res->out_names);
  sys_str_list_free(res->out_values);
  res->out_names = res->out_values = nullptr;
  avcp_didl_object_list objects = nullptr;
  if (!parsed || !avcp_didl_parse(text.s ? text.s : "", &objects)) return nullptr;
  return objects;
}

uint32_t run_all(const all_kind &k, tarvo_cp_ctx **ctx, char *const *udns, const char *a, const char *b,
                 tarvo_avcp_search_result ***results)
{
  if (!ctx || !*ctx || !results) return SOAP_ACTION_FAILED;
  // The URLs to ask and, beside each, the position of its UDN in the
  // caller's list: answers come back in URL order, so the position alone
  // says whose an answer is, even when two devices share one URL.
  own::ptr_array<char, sys_alloc_free> urls;
  own::uint32alloc owner;
  for (uint32_t i = 0; udns && udns[i]; i++) {
    char *url = nullptr;
    if (!tarvo_cp_get_control_url(ctx, udns[i], avcp_type_cds(), &url)) continue;
    if (!sys_ptralloc_append(&urls.pa, url)) {
      sys_alloc_free(url);
      return SOAP_ACTION_FAILED;
    }
    if (!sys_uint32alloc_append(&owner, i)) return SOAP_ACTION_FAILED;
  }
  result_list out;
  parallel_results answers;
  if (urls.pa.len) {
    own::str body;
    if (!k.make(a, b, &body.s) || !sys_ptralloc_readyplus(&urls.pa, 1)) return SOAP_ACTION_FAILED;
    urls.pa.buf[urls.pa.len] = nullptr;
    if (!parallel_soap_client_action(tarvo_cp_impl_parallel_soap_client(*ctx),
                                     reinterpret_cast<char *const *>(urls.pa.buf), avcp_type_cds(), k.action,
                                     nullptr, body.s, &answers.p))
      return SOAP_ACTION_FAILED;
  }
  for (uint32_t i = 0; answers.p && answers.p[i] && i < owner.len; i++) {
    uint32_t update_id = 0;
    avcp_didl_object_list objects = answer_objects(k, answers.p[i], &update_id);
    if (!objects) continue;
    auto *rec = static_cast<tarvo_avcp_search_result *>(sys_alloc_zero(sizeof(tarvo_avcp_search_result)));
    if (!rec) {
      avcp_didl_object_list_free(objects);
      return SOAP_ACTION_FAILED;
    }
    rec->objects = objects;
    rec->update_id = update_id;
    if (!sys_ptralloc_append(&out.pa, rec)) {
      tarvo_avcp_search_result_free(rec);
      return SOAP_ACTION_FAILED;
    }
    if (!sys_str_clone(udns[owner.buf[i]], &rec->udn)) return SOAP_ACTION_FAILED;
  }
  if (!sys_ptralloc_append(&out.pa, nullptr)) return SOAP_ACTION_FAILED;
  *results = reinterpret_cast<tarvo_avcp_search_result **>(out.pa.buf);
  out.pa = sys_ptralloc_rec{};
  return 0;
}

uint32_t run_every(const all_kind &k, tarvo_cp_ctx **ctx, const char *a, const char *b,
                   tarvo_avcp_search_result ***results)
{
  own::str_list udns;
  if (!ctx || !tarvo_cp_get_udn_list(ctx, &udns.l)) return SOAP_ACTION_FAILED;
  return run_all(k, ctx, udns.l, a, b, results);
}

}  // namespace

extern "C" {

uint32_t tarvo_avcp_browse_metadata_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *object_id,
                                         const char *filter, tarvo_avcp_search_result ***results)
{
  return run_all(kind_metadata, ctx, udns, object_id, filter, results);
}

uint32_t tarvo_avcp_browse_direct_children_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *object_id,
                                                const char *filter, tarvo_avcp_search_result ***results)
{
  return run_all(kind_children, ctx, udns, object_id, filter, results);
}

uint32_t tarvo_avcp_search_all2(tarvo_cp_ctx **ctx, char *const *udns, const char *search_criteria,
                                const char *filter, tarvo_avcp_search_result ***results)
{
  return run_all(kind_search, ctx, udns, search_criteria, filter, results);
}

uint32_t tarvo_avcp_browse_metadata_all(tarvo_cp_ctx **ctx, const char *object_id, const char *filter,
                                        tarvo_avcp_search_result ***results)
{
  return run_every(kind_metadata, ctx, object_id, filter, results);
}

uint32_t tarvo_avcp_browse_direct_children_all(tarvo_cp_ctx **ctx, const char *object_id, const char *filter,
                                               tarvo_avcp_search_result ***results)
{
  return run_every(kind_children, ctx, object_id, filter, results);
}

uint32_t tarvo_avcp_search_all(tarvo_cp_ctx **ctx, const char *search_criteria, const char *filter,
                               tarvo_avcp_search_result ***results)
{
  return run_every(kind_search, ctx, search_criteria, filter, results);
}

void tarvo_avcp_search_result_free(tarvo_avcp_search_result *result)
{
  if (!result) return;
  sys_alloc_free(result->udn);
  avcp_didl_object_list_free(result->objects);
  sys_alloc_free(result);
}

void tarvo_avcp_search_result_list_free(tarvo_avcp_search_result **results)
{
  for (uint32_t i = 0; results && results[i]; i++) tarvo_avcp_search_result_free(results[i]);
  sys_alloc_free(results);
}

}  // extern "C"
