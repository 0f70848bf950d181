// The ConnectionManager:1 service: a source with one fixed connection.
#include "server_util.h"

#include <vennard/connection_manager.h>
#include <vennard/server.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <atomic>

using namespace srv;

namespace {

server_rec *server_of(void *user) { return static_cast<server_rec *>(user); }
std::atomic_ref<int32_t> stopping(server_rec *s) { return std::atomic_ref<int32_t>(s->cm.stopping); }
std::atomic_ref<int32_t> changed(server_rec *s) { return std::atomic_ref<int32_t>(s->cm.changed); }

struct cm_lock {
  server_rec *s;
  bool held;
  explicit cm_lock(server_rec *srv) : s(srv), held(lock_unless_stopping(&srv->cm.mutex, srv->cm.stopping)) {}
  ~cm_lock()
  {
    if (held) sys_mutex_unlock(&s->cm.mutex);
  }
};

// The source list joined by commas; under the lock.
bool source_joined(server_rec *s, sys_stralloc_rec *out)
{
  out->len = 0;
  for (uint32_t i = 0; i < s->cm.source.len; i++)
    if (!csv_append(out, static_cast<const char *>(s->cm.source.buf[i]))) return false;
  csv_end(out);
  return sys_stralloc_append(out, "");
}

bool profiled(const char *pi)
{
  if (!sys_str_start(pi, "http-get:")) return false;
  const char *p = pi;
  for (int colons = 0; colons < 3; p++)
    if (!*p) return false;
    else if (*p == ':') colons++;
  return sys_str_start(p, "DLNA.ORG_PN=");
}

uint32_t protocol_info(server_rec *s, const device_request_info *info, const char *action, char **names, char **,
                       char **response)
{
  if (names[0]) return kInvalidArgs;
  own::stralloc source;
  {
    cm_lock lock(s);
    if (!lock.held || !source_joined(s, &source.s)) return kFailed;
  }
  return respond(info, action, {{"Source", source.s.buf}, {"Sink", ""}}, response);
}

uint32_t connection_ids(server_rec *, const device_request_info *info, const char *action, char **names, char **,
                        char **response)
{
  if (names[0]) return kInvalidArgs;
  return respond(info, action, {{"ConnectionIDs", "0"}}, response);
}

uint32_t connection_info(server_rec *, const device_request_info *info, const char *action, char **names,
                         char **values, char **response)
{
  const char *id = argument(names, values, "ConnectionID");
  if (!id) return kInvalidArgs;
  if (sys_str_diff(id, "0")) return kInvalidConnection;
  return respond(info, action,
                 {{"RcsID", "-1"},
                  {"AVTransportID", "-1"},
                  {"ProtocolInfo", ""},
                  {"PeerConnectionManager", ""},
                  {"PeerConnectionID", "-1"},
                  {"Direction", "Output"},
                  {"Status", "Unknown"}},
                 response);
}

struct action_entry {
  const char *name;
  uint32_t (*fn)(server_rec *, const device_request_info *, const char *, char **, char **, char **);
};

constexpr action_entry kActions[] = {
    {"GetProtocolInfo", protocol_info},
    {"GetCurrentConnectionIDs", connection_ids},
    {"GetCurrentConnectionInfo", connection_info},
};

}  // namespace

extern "C" {

void cm_handler_init(server_rec *s, device_service_handler *h)
{
  *h = device_service_handler{};
  h->service_id = CM_SERVICE_ID;
  h->action = cm_action_dispatch;
  h->query = cm_query_state_variable;
  h->subscribe = cm_subscribe;
  h->user = s;
}

uint32_t cm_action_dispatch(const device_request_info *info, const char *action, char **names, char **values,
                            void *server, char **response)
{
  server_rec *s = server_of(server);
  if (stopping(s).load()) return kFailed;
  for (const action_entry &e : kActions)
    if (!sys_str_diff(action, e.name)) return e.fn(s, info, e.name, names, values, response);
  return kInvalidAction;
}

uint32_t cm_query_state_variable(const device_request_info *, const char *name, void *server, char **value)
{
  server_rec *s = server_of(server);
  if (stopping(s).load()) return kFailed;
  own::stralloc sa;
  if (!sys_str_diff(name, "SourceProtocolInfo")) {
    cm_lock lock(s);
    if (!lock.held || !source_joined(s, &sa.s)) return kFailed;
  } else if (sys_str_diff(name, "SinkProtocolInfo") && sys_str_diff(name, "CurrentConnectionIDs")) {
    return kInvalidVar;
  } else if (!sys_stralloc_copys(&sa.s, *name == 'C' ? "0" : "")) {
    return kFailed;
  }
  return hand_out(&sa.s, value) ? 0 : kFailed;
}

int cm_subscribe(const device_request_info *, void *server, char **body)
{
  server_rec *s = server_of(server);
  own::stralloc source, sa;
  {
    cm_lock lock(s);
    if (!lock.held || !source_joined(s, &source.s)) return 0;
  }
  return property_set_xml_begin(&sa.s) && property_set_xml_add(&sa.s, "SourceProtocolInfo", source.s.buf) &&
         property_set_xml_add(&sa.s, "SinkProtocolInfo", "") &&
         property_set_xml_add(&sa.s, "CurrentConnectionIDs", "0") && property_set_xml_end(&sa.s) &&
         hand_out(&sa.s, body);
}

int cm_protocol_info_add(server_rec *s, const char *pi)
{
  if (!pi) return 0;
  cm_lock lock(s);
  if (!lock.held) return 0;
  sys_ptralloc_rec &list = s->cm.source;
  for (uint32_t i = 0; i < list.len; i++)
    if (!sys_str_diff(static_cast<const char *>(list.buf[i]), pi)) return 1;
  char *copy = nullptr;
  if (!sys_str_clone(pi, &copy)) return 0;
  if (!(profiled(pi) ? sys_ptralloc_insert(&list, 0, copy) : sys_ptralloc_append(&list, copy))) {
    sys_alloc_free(copy);
    return 0;
  }
  changed(s).store(1);
  return 1;
}

void cm_event_notify(server_rec *s)
{
  if (!changed(s).load() || !server_device_enter(s)) return;
  own::stralloc source, body;
  bool send = false;
  {
    cm_lock lock(s);
    send = lock.held && changed(s).load() && source_joined(s, &source.s) && property_set_xml_begin(&body.s) &&
           property_set_xml_add(&body.s, "SourceProtocolInfo", source.s.buf) && property_set_xml_end(&body.s) &&
           sys_stralloc_append(&body.s, "");
    if (send) changed(s).store(0);
  }
  if (send) tarvo_device_event_notify(&s->device, CM_SERVICE_ID, body.s.buf);
  server_device_leave(s);
}

int cm_state_start(server_rec *s)
{
  s->cm = cm_state_rec{};
  return sys_mutex_create(&s->cm.mutex);
}

void cm_state_stop(server_rec *s)
{
  if (!s->cm.mutex) return;
  if (sys_mutex_lock(&s->cm.mutex)) {
    stopping(s).store(1);
    sys_mutex_unlock(&s->cm.mutex);
  }
  stopping(s).store(1);
  for (uint32_t i = 0; i < s->cm.source.len; i++) sys_alloc_free(s->cm.source.buf[i]);
  sys_ptralloc_free(&s->cm.source);
  s->cm.source = sys_ptralloc_rec{};
  sys_mutex_destroy(&s->cm.mutex);
}

}  // extern "C"
