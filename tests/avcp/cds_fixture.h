// Media servers on the device stack for the multi-server calls: each
// answers Browse and Search from a fixed set of children, after an
// optional delay, or with a fault, or with a Result that is no DIDL-Lite;
// one may lack a ContentDirectory, one may name another's control URL.
#pragma once

#include <tarvo_avcp/avcp_action.h>
#include <tarvo_cp/tarvo_cp.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <memory>
#include <thread>
#include <vector>

namespace cds_fixture {

enum mode { good, fault, no_cds, garbage };

inline std::string udn_of(int i)
{
  char udn[64];
  std::snprintf(udn, sizeof udn, "uuid:c0ffee00-0000-4000-8000-%012d", i);
  return udn;
}

inline std::string escape(const std::string &s)
{
  std::string o;
  for (char ch : s) {
    if (ch == '<') o += "&lt;";
    else if (ch == '>') o += "&gt;";
    else if (ch == '&') o += "&amp;";
    else if (ch == '"') o += "&quot;";
    else o += ch;
  }
  return o;
}

inline const char *arg(char **names, char **values, const char *name)
{
  for (int i = 0; names[i] && values[i]; i++)
    if (!std::strcmp(names[i], name)) return values[i];
  return "";
}

struct server {
  int index = 0;
  uint16_t port = 0;
  mode how = good;
  int children = 0;
  int delay_ms = 0;
  std::atomic<int> requests{0};  // actions received
  std::string control_url = "control/cds";  // relative, or another server's absolute URL
  tarvo_device_ctx *ctx = nullptr;
  device_service_handler cds{}, cms{};
  bool started = false;

  std::string didl(bool metadata, const char *object_id) const
  {
    std::string d = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
    if (metadata) {
      d += std::string("<container id=\"") + object_id + "\" parentID=\"-1\"><dc:title>Root " +
           std::to_string(index) + "</dc:title><upnp:class>object.container</upnp:class></container>";
    } else {
      for (int k = 0; k < children; k++)
        d += "<item id=\"" + std::to_string(index) + "-" + std::to_string(k) + "\" parentID=\"0\"><dc:title>s" +
             std::to_string(index) + "-" + std::to_string(k) +
             "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class></item>";
    }
    return d + "</DIDL-Lite>";
  }

  static uint32_t on_action(const device_request_info *info, const char *action, char **names, char **values,
                            void *user, char **out)
  {
    auto *s = static_cast<server *>(user);
    s->requests++;
    if (s->delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(s->delay_ms));
    if (s->how == fault) return 701;
    std::string a = action;
    bool metadata = a == "Browse" && !std::strcmp(arg(names, values, "BrowseFlag"), "BrowseMetadata");
    std::string result = s->how == garbage ? "not <DIDL" : s->didl(metadata, arg(names, values, "ObjectID"));
    int n = metadata ? 1 : s->children;
    std::string body = "<u:" + a + "Response xmlns:u=\"" + info->service_type + "\"><Result>" + escape(result) +
                       "</Result><NumberReturned>" + std::to_string(n) + "</NumberReturned><TotalMatches>" +
                       std::to_string(n) + "</TotalMatches><UpdateID>" + std::to_string(100 + s->index) +
                       "</UpdateID></u:" + a + "Response>";
    *out = static_cast<char *>(sys_alloc(body.size() + 1));
    std::memcpy(*out, body.c_str(), body.size() + 1);
    return 0;
  }
  static uint32_t on_query(const device_request_info *, const char *, void *, char **) { return 404; }
  static int on_subscribe(const device_request_info *, void *, char **) { return 0; }

  std::string location() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
  std::string own_control_url() const { return location() + "control/cds"; }

  bool start()
  {
    cds = {"urn:upnp-org:serviceId:ContentDirectory", on_action, on_query, on_subscribe, nullptr, nullptr, nullptr,
           this};
    cms = cds;
    cms.service_id = "urn:upnp-org:serviceId:ConnectionManager";
    auto svc = [](const char *type, const char *id, const std::string &control, const char *name) {
      return std::string("<service><serviceType>") + type + "</serviceType><serviceId>" + id +
             "</serviceId><SCPDURL>" + name + ".xml</SCPDURL><controlURL>" + control +
             "</controlURL><eventSubURL>event/" + name + "</eventSubURL></service>";
    };
    std::string services = svc(avcp_type_cms(), cms.service_id, "control/cms", "cms");
    if (how != no_cds) services += svc(avcp_type_cds(), cds.service_id, control_url, "cds");
    std::string xml = "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                      "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                      "<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType><friendlyName>Fixture " +
                      std::to_string(index) + "</friendlyName><manufacturer>t</manufacturer><modelName>m</modelName>"
                      "<UDN>" + udn_of(index) + "</UDN><serviceList>" + services + "</serviceList></device></root>\r\n";
    device_service_handler *list[] = {&cds, &cms, nullptr};
    tarvo_device_disable_ssdp(&ctx);
    return started = tarvo_device_start(&ctx, nullptr, port, nullptr, xml.c_str(), 1800, list);
  }
  ~server()
  {
    if (started) tarvo_device_end(&ctx);
  }
};

// Asks the control point for every server's description until it knows
// them all (about 10 s at most).
inline bool discover(tarvo_cp_ctx **cp, const std::vector<std::unique_ptr<server>> &servers)
{
  for (int round = 0; round < 200; round++) {
    if (round % 20 == 0)
      for (auto &s : servers) tarvo_cp_discovery_static_async(cp, s->location().c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sys_str_list known = nullptr;
    size_t n = 0;
    if (tarvo_cp_get_udn_list(cp, &known))
      while (known[n]) n++;
    sys_str_list_free(known);
    if (n == servers.size()) return true;
  }
  return false;
}

}  // namespace cds_fixture
