// The ContentDirectory service's entry points: the action table with who
// may call what, the capability and update-id actions, the state
// variables and the initial event.
#include "cds_impl.h"

#include <vennard/service.h>
#include <vennard/vennard_limits.h>


#include <atomic>

namespace cds {

bool call::args(std::initializer_list<const char *> wanted, const char **out) const
{
  for (const char *name : wanted)
    if (!(*out++ = arg(name))) return false;
  return true;
}

bool number_arg(const char *s, uint32_t *n)
{
  uint64_t v = 0;
  uint32_t i = 0;
  for (; s[i] >= '0' && s[i] <= '9'; i++)
    if ((v = v * 10 + uint64_t(s[i] - '0')) > UINT32_MAX) return false;
  *n = uint32_t(v);
  return i > 0 && !s[i];
}

bool boolean_arg(const char *s, bool *value)
{
  for (const char *word : {"1", "true", "yes", "0", "false", "no"})
    if (!sys_str_diff(s, word)) {
      *value = *word == '1' || *word == 't' || *word == 'y';
      return true;
    }
  return false;
}

bool attribute_is(const didl_object *o, const char *name, const char *value)
{
  const char *v = didl_attribute_get(&o->attributes, name);
  return v && !sys_str_diff(v, value);
}

}  // namespace cds

using namespace cds;

namespace {

// The names that Search and Sort accept, in the order they are listed.
constexpr const char kCapabilities[] =
    "@id,@parentID,@refID,@restricted,@childCount,@searchable,item@id,item@parentID,item@refID,"
    "item@restricted,container@id,container@parentID,container@restricted,container@childCount,"
    "container@searchable,res,res@importUri,res@protocolInfo,res@size,res@duration,res@bitrate,"
    "res@sampleFrequency,res@bitsPerSample,res@nrAudioChannels,res@resolution,res@colorDepth,"
    "res@protection,res@dlna:ifoFileURI,res@dlna:cleartextSize,desc,desc@id,desc@type,desc@nameSpace,"
    "dc:title,dc:creator,dc:publisher,dc:contributor,dc:relation,dc:description,dc:rights,dc:date,"
    "dc:language,upnp:class,upnp:class@name,upnp:storageTotal,upnp:storageUsed,upnp:storageFree,"
    "upnp:storageMaxPartition,upnp:storageMedium,upnp:searchClass,upnp:searchClass@name,"
    "upnp:searchClass@includeDerived,upnp:createClass,upnp:createClass@name,"
    "upnp:createClass@includeDerived,upnp:writeStatus,upnp:artist,upnp:artist@role,upnp:actor,"
    "upnp:actor@role,upnp:author,upnp:author@role,upnp:producer,upnp:director,upnp:genre,upnp:album,"
    "upnp:playlist,upnp:albumArtURI,upnp:albumArtURI@dlna:profileID,upnp:artistDiscographyURI,"
    "upnp:lyricsURI,upnp:longDescription,upnp:icon,upnp:region,upnp:rating,upnp:radioCallSign,"
    "upnp:radioStationID,upnp:radioBand,upnp:channelNr,upnp:channelName,upnp:scheduledStartTime,"
    "upnp:scheduledEndTime,upnp:DVDRegionCode,upnp:originalTrackNumber,upnp:toc,upnp:userAnnotation,"
    "dlna:containerType";
// What a local requester may also name.
constexpr const char kPrivateCapabilities[] =
    ",@tarvo:private,item@tarvo:private,container@tarvo:private,res@tarvo:filename,res@tarvo:filter";

uint32_t capabilities(call &c)
{
  if (!c.no_args()) return kInvalidArgs;
  own::stralloc t;
  if (!sys_stralloc_ready(&t.s, CDS_CAPS_RESERVE) || !sys_stralloc_copys(&t.s, kCapabilities) ||
      (c.local && !sys_stralloc_cats(&t.s, kPrivateCapabilities)) || !sys_stralloc_append(&t.s, ""))
    return kFailed;
  bool sort = !sys_str_diff(c.action, "GetSortCapabilities");
  return respond(c, {{sort ? "SortCaps" : "SearchCaps", t.s.buf}});
}

uint32_t system_update_id(call &c)
{
  if (!c.no_args()) return kInvalidArgs;
  return locked(c, [&] {
    char id[CONTENT_DB_NUMBER_SIZE];
    id[sys_str_fmt_uint32(id, content_db_system_update_id(c.s))] = 0;
    return respond(c, {{"Id", id}});
  });
}

struct action_entry {
  const char *name;
  uint32_t (*fn)(call &);
  bool local_only;
};

// Actions that change the content tree, the shares or the file types are
// for local requesters only: a share of "/" would open every file to the
// network.
constexpr action_entry kActions[] = {
    {"Browse", browse, false},
    {"Search", search, false},
    {"GetSearchCapabilities", capabilities, false},
    {"GetSortCapabilities", capabilities, false},
    {"GetSystemUpdateID", system_update_id, false},
    {"CreateObject", create_object, true},
    {"DestroyObject", destroy_object, true},
    {"UpdateObject", update_object, true},
    {"CreateReference", create_reference, true},
    {"X_SetPrivate", set_private, true},
    {"X_SetSearchable", set_searchable, true},
    {"X_ShareList", share_list, false},
    {"X_ShareState", share_state, false},
    {"X_Share", share, true},
    {"X_Unshare", unshare, true},
    {"X_GetFileTypeList", file_type_list, false},
    {"X_AddFileType", file_type_add, true},
    {"X_RemoveFileType", file_type_remove, true},
};

server_rec *server_of(void *user) { return static_cast<server_rec *>(user); }

bool stopping(server_rec *s) { return std::atomic_ref<int32_t>(s->content.stopping).load() != 0; }

}  // namespace

extern "C" {

void cds_handler_init(server_rec *s, device_service_handler *handler)
{
  *handler = device_service_handler{};
  handler->service_id = CDS_SERVICE_ID;
  handler->action = cds_action_dispatch;
  handler->query = cds_query_state_variable;
  handler->subscribe = cds_subscribe;
  handler->user = s;
}

uint32_t cds_action_dispatch(const device_request_info *info, const char *action, char **names, char **values,
                             void *server, char **response)
{
  server_rec *s = server_of(server);
  if (stopping(s)) return kFailed;
  for (const action_entry &e : kActions) {
    if (sys_str_diff(action, e.name)) continue;
    call c{info, s, e.name, names, values, is_local_address(info->addr.remote_ip) != 0, response};
    if (e.local_only && !c.local) return kInvalidAction;
    return e.fn(c);
  }
  return kInvalidAction;
}

uint32_t cds_query_state_variable(const device_request_info *, const char *name, void *server, char **value)
{
  server_rec *s = server_of(server);
  if (stopping(s)) return kFailed;
  bool system = !sys_str_diff(name, "SystemUpdateID");
  if (!system && sys_str_diff(name, "ContainerUpdateIDs")) return kInvalidVar;
  db_lock lock(s);
  if (!lock.held) return kFailed;
  own::stralloc t;
  if (system) {
    char id[CONTENT_DB_NUMBER_SIZE];
    id[sys_str_fmt_uint32(id, content_db_system_update_id(s))] = 0;
    if (!sys_stralloc_copys(&t.s, id)) return kFailed;
  } else if (!content_db_container_update_ids(s, &t.s)) {
    return kFailed;
  }
  return hand_out(&t.s, value) ? 0 : kFailed;
}

int cds_subscribe(const device_request_info *, void *server, char **body)
{
  server_rec *s = server_of(server);
  db_lock lock(s);
  own::stralloc t;
  return lock.held && content_db_event_body(s, &t.s) && hand_out(&t.s, body);
}

}  // extern "C"
