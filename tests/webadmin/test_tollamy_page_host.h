// A fixture host on the device stack for the web administration pages: it
// is the local server (the ContentDirectory vendor subset, X_DeviceManager
// and X_ContentBackup kept in memory, every call recorded), another media
// server with a small Browse tree, and the CGI runner that starts the
// program from admin/ under its document root.
#pragma once

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/tarvo_vendor.h>
#include <tarvo_util/xml.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device_test.h"
#include "helper_tollamy.h"

namespace page_host {

inline constexpr const char *kCdsType = "urn:schemas-upnp-org:service:ContentDirectory:1";
inline constexpr const char *kUdn = "uuid:5e1f0000-0000-0000-0000-00000000beef";

struct client {
  std::string mac, ip;
};
struct task {
  std::string udn, container, last, state;
};
// A Browse tree node: containers have class object.container.
struct node {
  std::string id, parent, title;
  bool container;
};

// The in-memory server; guarded by mu.
struct server {
  std::mutex mu;
  std::vector<std::string> calls;  // "Action(name=value,...)"
  std::vector<std::string> shares;
  std::set<std::string> share_fails;  // X_Share of these paths answers 714
  std::vector<std::pair<std::string, std::string>> types;
  std::string name = "Den <b>&amp;</b>";
  std::vector<client> allow, deny;
  std::string default_state = "deny";
  std::map<std::string, task> tasks;
  unsigned next_task = 1;
  std::vector<node> tree;
  std::string self_url;

  std::vector<std::string> take_calls()
  {
    std::lock_guard<std::mutex> l(mu);
    std::vector<std::string> out;
    out.swap(calls);
    return out;
  }
};

using outs = std::vector<std::pair<const char *, std::string>>;

inline std::string arg(char **names, char **values, const char *name)
{
  for (size_t i = 0; names[i]; i++)
    if (std::string(names[i]) == name) return values[i];
  return {};
}

inline std::string csv(const std::vector<std::string> &l)
{
  own::stralloc sa;
  for (const auto &s : l) csv_append(&sa.s, s.c_str());
  if (!l.empty()) csv_end(&sa.s);
  return std::string(sa.s.buf ? sa.s.buf : "", sa.s.len);
}

inline std::vector<std::string> split(const std::string &s)
{
  own::str_list l;
  std::vector<std::string> out;
  if (!s.empty() && csv_split(s.c_str(), &l.l))
    for (size_t i = 0; l.l[i]; i++) out.push_back(l.l[i]);
  return out;
}

inline uint32_t respond(const device_request_info *info, const char *action, const outs &o, char **out)
{
  own::stralloc sa;
  bool ok = soap_xml_response_begin(&sa.s, info->service_type, action);
  for (const auto &v : o) ok = ok && xml_gen_element_append(&sa.s, v.first, v.second.c_str());
  if (!ok || !soap_xml_response_end(&sa.s, action) || !sys_stralloc_append(&sa.s, "")) return 501;
  *out = sa.s.buf;
  sa.s = sys_stralloc_rec{};
  return 0;
}

inline std::string didl(const std::vector<const node *> &nodes)
{
  std::string d = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                  "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
  for (const node *n : nodes) {
    own::stralloc t;
    xml_gen_encode_append(&t.s, n->title.c_str());
    std::string title(t.s.buf ? t.s.buf : "", t.s.len);
    const char *el = n->container ? "container" : "item";
    d += std::string("<") + el + " id=\"" + n->id + "\" parentID=\"" + n->parent + "\" restricted=\"1\"><dc:title>" +
         title + "</dc:title><upnp:class>" + (n->container ? "object.container.storageFolder" : "object.item") +
         "</upnp:class></" + el + ">";
  }
  return d + "</DIDL-Lite>";
}

inline uint32_t browse(server *s, const device_request_info *info, char **n, char **v, char **out)
{
  std::string id = arg(n, v, "ObjectID");
  std::vector<const node *> hits;
  if (arg(n, v, "BrowseFlag") == "BrowseMetadata") {
    for (const node &x : s->tree)
      if (x.id == id) hits.push_back(&x);
    if (hits.empty()) return 701;
    return respond(info, "Browse", {{"Result", didl(hits)}, {"NumberReturned", "1"}, {"TotalMatches", "1"}, {"UpdateID", "1"}},
                   out);
  }
  std::vector<const node *> all;
  for (const node &x : s->tree)
    if (x.parent == id) all.push_back(&x);
  size_t start = std::stoul("0" + arg(n, v, "StartingIndex")), count = std::stoul("0" + arg(n, v, "RequestedCount"));
  for (size_t i = start; i < all.size() && (count == 0 || hits.size() < count); i++) hits.push_back(all[i]);
  return respond(info, "Browse",
                 {{"Result", didl(hits)}, {"NumberReturned", std::to_string(hits.size())},
                  {"TotalMatches", std::to_string(all.size())}, {"UpdateID", "1"}},
                 out);
}

inline uint32_t on_cds(server *s, const device_request_info *info, const std::string &a, char **n, char **v, char **out)
{
  if (a == "Browse") return browse(s, info, n, v, out);
  if (a == "X_ShareList") return respond(info, "X_ShareList", {{"PathList", csv(s->shares)}}, out);
  std::string path = arg(n, v, "Path");
  auto at = std::find(s->shares.begin(), s->shares.end(), path);
  if (a == "X_Share" || a == "X_Unshare") {
    if (a == "X_Share" && (s->share_fails.count(path) || at != s->shares.end())) return 714;
    if (a == "X_Unshare" && at == s->shares.end()) return 714;
    if (a == "X_Share") s->shares.push_back(path);
    else s->shares.erase(at);
    return respond(info, a.c_str(), {}, out);
  }
  std::vector<std::string> e, m;
  for (auto &t : s->types) {
    e.push_back(t.first);
    m.push_back(t.second);
  }
  if (a == "X_GetFileTypeList")
    return respond(info, "X_GetFileTypeList",
                   {{"FileExtensionList", csv(e)}, {"MimeTypeList", csv(m)}, {"NumberOfFileTypes", std::to_string(e.size())}},
                   out);
  std::string ext = arg(n, v, "FileExtension");
  auto t = std::find_if(s->types.begin(), s->types.end(), [&](auto &p) { return p.first == ext; });
  if (a == "X_AddFileType" && t == s->types.end()) s->types.push_back({ext, arg(n, v, "MimeType")});
  else if (a == "X_RemoveFileType" && t != s->types.end()) s->types.erase(t);
  else return 802;
  return respond(info, a.c_str(), {}, out);
}

inline uint32_t on_devmgr(server *s, const device_request_info *info, const std::string &a, char **n, char **v,
                          char **out)
{
  auto lists = [&](const std::vector<client> &l, const char *pre) {
    std::vector<std::string> m, i;
    for (auto &c : l) {
      m.push_back(c.mac);
      i.push_back(c.ip);
    }
    std::string p(pre);
    return respond(info, a.c_str(),
                   {{(p + "MacList").c_str(), csv(m)}, {(p + "IpList").c_str(), csv(i)},
                    {(std::string("NumberOf") + pre + "Clients").c_str(), std::to_string(m.size())}},
                   out);
  };
  // A client named by its MAC leaves both lists; a permission puts it in
  // one of them, with its address.
  auto drop = [&](const std::string &mac) {
    for (auto *l : {&s->allow, &s->deny})
      l->erase(std::remove_if(l->begin(), l->end(), [&](const client &c) { return c.mac == mac; }), l->end());
  };
  if (a == "SetClientPermissions") {
    std::vector<std::string> macs = split(arg(n, v, "MacList")), ips = split(arg(n, v, "IpList"));
    if (macs.size() != ips.size()) return 402;
    for (size_t i = 0; i < macs.size(); i++) {
      drop(macs[i]);
      (arg(n, v, "ClientState") == "allow" ? s->allow : s->deny).push_back({macs[i], ips[i]});
    }
  } else if (a == "UnregisterClients") {
    for (const auto &mac : split(arg(n, v, "MacList"))) drop(mac);
  } else if (a == "GetFriendlyName") {
    return respond(info, a.c_str(), {{"FriendlyName", s->name}}, out);
  } else if (a == "SetFriendlyName") {
    s->name = arg(n, v, "FriendlyName");
  } else if (a == "GetAllowList") {
    return lists(s->allow, "Allow");
  } else if (a == "GetDenyList") {
    return lists(s->deny, "Deny");
  } else if (a == "GetDefaultClientState") {
    return respond(info, a.c_str(), {{"DefaultClientState", s->default_state}}, out);
  } else if (a == "SetDefaultClientState") {
    s->default_state = arg(n, v, "DefaultClientState");
  } else {
    return 401;
  }
  return respond(info, a.c_str(), {}, out);
}

inline uint32_t on_backup(server *s, const device_request_info *info, const std::string &a, char **n, char **v,
                          char **out)
{
  if (a == "GetDescriptionURIs") return respond(info, a.c_str(), {{"DescriptionURIs", s->self_url}, {"NumberOfDescriptionURIs", "1"}}, out);
  if (a == "GetTaskIDs") {
    std::vector<std::string> ids;
    for (auto &t : s->tasks)
      if (t.second.udn == arg(n, v, "UDN")) ids.push_back(t.first);
    return respond(info, a.c_str(), {{"TaskIDs", csv(ids)}, {"NumberOfTaskIDs", std::to_string(ids.size())}}, out);
  }
  std::string id = arg(n, v, "TaskID");
  if (a == "CreateTask") {
    id = "t" + std::to_string(s->next_task++);
    s->tasks[id] = {arg(n, v, "UDN"), arg(n, v, "ContainerID"), "", "WAITING"};
    return respond(info, a.c_str(), {{"TaskID", id}}, out);
  }
  auto t = s->tasks.find(id);
  if (t == s->tasks.end()) return 720;
  if (a == "RemoveTask") {
    s->tasks.erase(t);
    return respond(info, a.c_str(), {}, out);
  }
  if (a != "GetTaskInfo") return 401;
  return respond(info, a.c_str(),
                 {{"UDN", t->second.udn}, {"ContainerID", t->second.container}, {"LastBackuped", t->second.last},
                  {"State", t->second.state}},
                 out);
}

inline uint32_t on_action(const device_request_info *info, const char *action, char **n, char **v, void *user,
                          char **out)
{
  server *s = static_cast<server *>(user);
  std::lock_guard<std::mutex> l(s->mu);
  std::string a = action, seen = a + "(";
  for (size_t i = 0; n[i]; i++) seen += std::string(i ? "," : "") + n[i] + "=" + v[i];
  // Browse is the other server's: only the local server's calls are kept.
  if (a != "Browse") s->calls.push_back(seen + ")");
  std::string type = info->service_type;
  if (type == kCdsType) return on_cds(s, info, a, n, v, out);
  if (type == TARVO_VENDOR_DEVMGR_TYPE) return on_devmgr(s, info, a, n, v, out);
  return on_backup(s, info, a, n, v, out);
}

inline uint32_t on_query(const device_request_info *, const char *, void *, char **) { return 404; }
inline int on_subscribe(const device_request_info *, void *, char **) { return 0; }

inline std::string description()
{
  auto service = [](const char *type, const char *id, const char *name) {
    return std::string("<service><serviceType>") + type + "</serviceType><serviceId>" + id + "</serviceId><SCPDURL>scpd/" +
           name + ".xml</SCPDURL><controlURL>control/" + name + "</controlURL><eventSubURL>event/" + name +
           "</eventSubURL></service>";
  };
  return std::string("<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                     "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                     "<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
                     "<friendlyName>Other &amp; Server</friendlyName><manufacturer>T</manufacturer><modelName>M</modelName>"
                     "<UDN>") +
         kUdn + "</UDN><serviceList>" + service(kCdsType, "urn:upnp-org:serviceId:ContentDirectory", "ContentDirectory") +
         service(TARVO_VENDOR_DEVMGR_TYPE, TARVO_VENDOR_DEVMGR_ID, "X_DeviceManager") +
         service(TARVO_VENDOR_BACKUP_TYPE, TARVO_VENDOR_BACKUP_ID, "ContentBackup") +
         "</serviceList></device></root>\r\n";
}

// The started host with the program's folder in admin/ (templates, texts,
// settings, login file for "secret") and its port file naming the host.
struct host {
  tarvo_device_ctx *ctx = nullptr;
  tarvo_test::scratch_dir root;
  server s;
  device_service_handler h[3];
  bool started = false;
  std::string admin;

  host()
  {
    const char *ids[] = {"urn:upnp-org:serviceId:ContentDirectory", TARVO_VENDOR_DEVMGR_ID, TARVO_VENDOR_BACKUP_ID};
    for (int i = 0; i < 3; i++) h[i] = device_service_handler{ids[i], on_action, on_query, on_subscribe, nullptr, nullptr, nullptr, &s};
    admin = root / "admin";
    std::filesystem::create_directories(admin);
  }
  bool start(tollamy_test::folder &f)
  {
    std::filesystem::create_symlink(std::string(getenv("TARVO_BIN")) + "/conf/upnp_root/admin/tollamy.cgi",
                                    admin + "/tollamy.cgi");
    device_service_handler *list[] = {&h[0], &h[1], &h[2], nullptr};
    tarvo_device_disable_ssdp(&ctx);
    std::string xml = description();
    started = tarvo_device_start(&ctx, nullptr, 0, root.path.c_str(), xml.c_str(), 1800, list);
    if (!started) return false;
    s.self_url = "http://127.0.0.1:" + std::to_string(port()) + "/";
    tollamy_test::put(f.dir + "/ms/conf/upnp_port", std::to_string(port()) + "\n");
    return true;
  }
  ~host()
  {
    if (started) tarvo_device_end(&ctx);
  }
  uint16_t port() const { return ctx->http_port; }
  // One request through the runner; the whole answer as the program wrote
  // it (its content type line put back in front of the body).
  std::string get(const std::string &query, const char *from = "127.0.0.1") const
  {
    int sock = device_test::connect_to(port(), from);
    if (sock < 0) return {};
    device_test::send_all(sock, "GET /admin/tollamy.cgi?" + query + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    device_test::reply r = device_test::read_reply(sock);
    close(sock);
    return r.ok ? "Content-Type: " + r.header("Content-Type") + "\n\n" + r.body : "";
  }
};

}  // namespace page_host
