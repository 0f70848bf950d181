// ContentDirectory actions handed straight to the service's dispatcher,
// as the device stack hands them on, from a local (127.0.0.1) or a remote
// (127.0.0.2) requester; and a generated content tree to run them on.
#pragma once

#include <vennard/content_db.h>
#include <vennard/content_directory.h>
#include <vennard/server.h>

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "media_test.h"

namespace cds_test {

using args = std::vector<std::pair<std::string, std::string>>;

// The code (0 for success) and the whole response element of an action.
struct answer {
  uint32_t code = 0;
  std::string text;
  // An out-argument's text as it stands in the response (escaped).
  std::string out(const std::string &name) const
  {
    size_t a = text.find("<" + name + ">");
    if (a == std::string::npos) return "";
    a += name.size() + 2;
    return text.substr(a, text.find("</" + name + ">", a) - a);
  }
};

inline answer act(server_rec *s, const std::string &action, const args &a, bool remote = false)
{
  device_request_info info{};
  info.service_type = "urn:schemas-upnp-org:service:ContentDirectory:1";
  const uint8_t local[4] = {127, 0, 0, 1}, far[4] = {127, 0, 0, 2};
  std::copy(local, local + 4, info.addr.local_ip);
  std::copy(remote ? far : local, (remote ? far : local) + 4, info.addr.remote_ip);
  std::vector<char *> names, values;
  for (const auto &[n, v] : a) {
    names.push_back(const_cast<char *>(n.c_str()));
    values.push_back(const_cast<char *>(v.c_str()));
  }
  names.push_back(nullptr);
  values.push_back(nullptr);
  char *response = nullptr;
  answer r;
  r.code = cds_action_dispatch(&info, action.c_str(), names.data(), values.data(), s, &response);
  if (response) r.text = response;
  sys_alloc_free(response);
  return r;
}

inline args browse_args(const std::string &id, const std::string &flag, uint64_t start, uint64_t count,
                        const std::string &sort = "", const std::string &filter = "*")
{
  return {{"ObjectID", id},
          {"BrowseFlag", flag},
          {"Filter", filter},
          {"StartingIndex", std::to_string(start)},
          {"RequestedCount", std::to_string(count)},
          {"SortCriteria", sort}};
}

inline answer browse(server_rec *s, const std::string &id, uint64_t start, uint64_t count,
                     const std::string &sort = "", bool remote = false)
{
  return act(s, "Browse", browse_args(id, "BrowseDirectChildren", start, count, sort), remote);
}

// The ids of the objects of an escaped Result, in order.
inline std::vector<std::string> ids(const std::string &result)
{
  std::vector<std::string> v;
  static const std::regex object("&lt;(?:item|container) id=&quot;([^&]*)&quot;");
  for (std::sregex_iterator i(result.begin(), result.end(), object), end; i != end; ++i) v.push_back((*i)[1]);
  return v;
}

// A local CreateObject under the lock; the new id, "" on failure.
inline std::string create(server_rec *s, const std::string &parent, const std::string &object_xml)
{
  std::string id;
  if (!content_db_lock(s)) return id;
  char *new_id = nullptr;
  uint32_t code = content_db_create(s, parent.c_str(), media_test::didl(object_xml).c_str(), 1, &new_id, nullptr);
  if (code == 0 && new_id)
    id = new_id;
  sys_alloc_free(new_id);
  content_db_unlock(s);
  return id;
}

inline std::string container(server_rec *s, const std::string &parent, const std::string &title,
                             const std::string &cls)
{
  return create(s, parent,
                "<container id=\"\" parentID=\"" + parent + "\" restricted=\"0\"><dc:title>" + title +
                    "</dc:title><upnp:class>" + cls + "</upnp:class></container>");
}

// An item with a title, a class and more property elements.
inline std::string item(server_rec *s, const std::string &parent, const std::string &title, const std::string &cls,
                        const std::string &more = "")
{
  return create(s, parent,
                "<item id=\"\" parentID=\"" + parent + "\" restricted=\"0\"><dc:title>" + title +
                    "</dc:title><upnp:class>" + cls + "</upnp:class>" + more + "</item>");
}

inline std::string reference(server_rec *s, const std::string &parent, const std::string &target)
{
  return act(s, "CreateReference", {{"ContainerID", parent}, {"ObjectID", target}}).out("NewID");
}

}  // namespace cds_test
