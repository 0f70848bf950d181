// links: vennard_core
// ContentDirectory actions with arbitrary arguments against a small
// database.  The first byte picks the action and whether the requester is
// local; the rest, split at LF, gives the values of the action's arguments
// in order ("\x01" alone leaves an argument out).  Editing actions change
// the database from one input to the next.
#include <vennard/content_directory.h>

#include "fuzz_server.h"

#include <tarvo_util/sys_alloc.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct action {
  const char *name;
  std::vector<const char *> args;
};

const action kActions[] = {
    {"Browse", {"ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"}},
    {"Search", {"ContainerID", "SearchCriteria", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"}},
    {"GetSearchCapabilities", {}},
    {"GetSortCapabilities", {}},
    {"GetSystemUpdateID", {}},
    {"CreateObject", {"ContainerID", "Elements"}},
    {"DestroyObject", {"ObjectID"}},
    {"UpdateObject", {"ObjectID", "CurrentTagValue", "NewTagValue"}},
    {"CreateReference", {"ContainerID", "ObjectID"}},
    {"X_SetPrivate", {"ObjectID", "Private"}},
    {"X_SetSearchable", {"ContainerID", "Searchable"}},
    {"X_ShareList", {}},
    {"X_ShareState", {"Path"}},
    {"X_Share", {"Path"}},
    {"X_Unshare", {"Path"}},
    {"X_GetFileTypeList", {}},
    {"X_AddFileType", {"FileExtension", "MimeType"}},
    {"X_RemoveFileType", {"FileExtension"}},
    {"X_Unknown", {"A"}},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1 || size > 65536) return 0;
  server_rec *s = fuzz_server::server();
  const action &a = kActions[(data[0] & 0x7F) % (sizeof kActions / sizeof kActions[0])];
  std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::vector<std::string> values;
  for (size_t from = 0; from <= rest.size();) {
    size_t lf = rest.find('\n', from);
    values.push_back(rest.substr(from, lf == std::string::npos ? std::string::npos : lf - from));
    if (lf == std::string::npos) break;
    from = lf + 1;
  }
  std::vector<char *> names, vals;
  for (size_t i = 0; i < a.args.size() && i < values.size(); i++) {
    if (values[i] == "\x01") continue;
    names.push_back(const_cast<char *>(a.args[i]));
    vals.push_back(values[i].data());
  }
  names.push_back(nullptr);
  vals.push_back(nullptr);
  device_request_info info{};
  const uint8_t remote[4] = {10, 9, 8, 7};
  for (int i = 0; i < 4; i++) info.addr.remote_ip[i] = data[0] & 0x80 ? remote[i] : (i == 0 ? 127 : i == 3);
  info.service_type = "urn:schemas-upnp-org:service:ContentDirectory:1";
  char *response = nullptr;
  if (cds_action_dispatch(&info, a.name, names.data(), vals.data(), s, &response) == 0 && !response) std::abort();
  sys_alloc_free(response);
  return 0;
}
