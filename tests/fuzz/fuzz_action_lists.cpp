// links: tarvo_avcp tarvo_util
// The response parsers on argument lists made from the input: names from
// the actions' own set or arbitrary, lists of unequal length, and either
// list NULL.  Whatever a parser hands out or leaves is freed, so the
// sanitizer sees any slot freed twice or lost.
#include <tarvo_avcp/avcp_action.h>
#include <tarvo_util/sys_owner.h>

#include <cstdlib>
#include <string>

namespace {

const char *const known[] = {"Result", "NumberReturned", "TotalMatches", "UpdateID", "PathList", "State",
                             "NrTracks", "WriteStatus", "Track", "RelCount", "AbsCount", "ConnectionID",
                             "RcsID", "AVTransportID", "MinValue", "MaxValue", "TransferLength", "SearchCaps",
                             "ObjectID", "CurrentMute", "MediaDuration", "ProtocolInfo"};

void free_all(char **s, int n)
{
  for (int i = 0; i < n; i++) sys_alloc_free(s[i]);
}

void run(int which, char **nm, char **vl)
{
  char *s[9] = {};
  uint32_t u[3] = {};
  int32_t i[3] = {};
  int16_t h[2] = {};
  uint64_t w[2] = {};
  int flag = 0;
  char **list = nullptr;
  switch (which % 11) {
  case 0: avcp_cds_parse_browse_metadata_response(nm, vl, &s[0], &u[0]); break;
  case 1: avcp_cds_parse_browse_direct_children_response(nm, vl, &s[0], &u[0], &u[1], &u[2]); break;
  case 2: avcp_cds_parse_share_list_response(nm, vl, &list); break;
  case 3: avcp_cds_parse_share_state_response(nm, vl, &flag); break;
  case 4: avcp_avts_parse_get_media_info_response(nm, vl, &u[0], &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7]); break;
  case 5: avcp_avts_parse_get_position_info_response(nm, vl, &u[0], &s[0], &s[1], &s[2], &s[3], &s[4], &i[0], &i[1]); break;
  case 6: avcp_cms_parse_get_current_connection_info_response(nm, vl, &i[0], &i[1], &s[0], &s[1], &i[2], &s[2], &s[3]); break;
  case 7: avcp_cms_parse_prepare_for_connection_response(nm, vl, &i[0], &i[1], &i[2]); break;
  case 8: avcp_rcs_parse_get_volume_db_range_response(nm, vl, &h[0], &h[1]); break;
  case 9: avcp_cds_parse_get_transfer_progress_response(nm, vl, &s[0], &w[0], &w[1]); break;
  default: avcp_cds_parse_create_object_response(nm, vl, &s[0], &s[1]); break;
  }
  free_all(s, 9);
  sys_str_list_free(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 2) return 0;
  int which = data[0], shape = data[1];
  own::str_list_build names, values;
  // The rest: records of one name byte and a NUL-ended value.
  for (size_t at = 2; at < size && names.pa.len < 64;) {
    uint8_t pick = data[at++];
    size_t end = at;
    while (end < size && data[end]) end++;
    std::string value(reinterpret_cast<const char *>(data + at), end - at);
    at = end + 1;
    std::string name = pick < 0xe0 ? known[pick % (sizeof known / sizeof *known)] : value;
    char *n = nullptr, *v = nullptr;
    if (!sys_str_clone(name.c_str(), &n) || !names.take(n)) return 0;
    // Values one short now and then: lists of unequal length.
    if ((shape & 4) && at >= size) break;
    if (!sys_str_clone(value.c_str(), &v) || !values.take(v)) return 0;
  }
  sys_str_list nm = nullptr, vl = nullptr;
  if (!(shape & 1) && !names.release(&nm)) return 0;
  if (!(shape & 2) && !values.release(&vl)) return 0;
  run(which, nm, vl);
  sys_str_list_free(nm);
  sys_str_list_free(vl);
  return 0;
}
