#include "scan_test.h"

#include <vennard/conf_store.h>
#include <vennard/content_db.h>

#include <algorithm>

namespace scan_test {

namespace {

struct lock {
  server_rec *s;
  bool held;
  explicit lock(server_rec *srv) : s(srv), held(content_db_lock(srv) != 0) {}
  ~lock()
  {
    if (held) content_db_unlock(s);
  }
};

node node_of(const didl_object *o)
{
  node n;
  const char *id = didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID));
  const char *ref = didl_attribute_get(&o->attributes, DIDL_NAME(AT_REF_ID));
  n.id = id ? id : "";
  n.ref = ref ? ref : "";
  n.element = o->element;
  for (uint32_t i = 0; i < o->properties.len; i++) {
    const auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    n.props.emplace_back(p->element, p->text);
    if (p->element == DIDL_NAME(EL_DC_TITLE) && n.title.empty()) n.title = p->text;
    if (p->element == DIDL_NAME(EL_UPNP_CLASS)) n.cls = p->text;
    if (const char *f = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME))) n.files.push_back(f);
    if (const char *z = didl_attribute_get(&p->attributes, DIDL_NAME(AT_SIZE))) n.sizes.push_back(z);
  }
  return n;
}

}  // namespace

std::string node::prop(const std::string &element) const
{
  for (const auto &[e, t] : props)
    if (e == element) return t;
  return {};
}

bool object_of(server_rec *s, const std::string &id, node *out)
{
  lock l(s);
  const didl_object *o = l.held ? content_db_get(s, id.c_str()) : nullptr;
  if (o) *out = node_of(o);
  return o != nullptr;
}

std::vector<node> children_of(server_rec *s, const std::string &id)
{
  std::vector<node> v;
  lock l(s);
  const didl_object *o = l.held ? content_db_get(s, id.c_str()) : nullptr;
  if (!o) return v;
  sys_ptralloc_rec children{};
  content_db_children(s, o, &children);
  for (uint32_t i = 0; i < children.len; i++) v.push_back(node_of(static_cast<const didl_object *>(children.buf[i])));
  sys_ptralloc_free(&children);
  return v;
}

std::string child_titled(server_rec *s, const std::string &parent, const std::string &title)
{
  for (const node &n : children_of(s, parent))
    if (n.title == title) return n.id;
  return {};
}

std::string titles(server_rec *s, const std::string &id)
{
  std::vector<std::string> t;
  for (const node &n : children_of(s, id)) t.push_back(n.title);
  std::sort(t.begin(), t.end());
  std::string joined;
  for (const std::string &x : t) joined += (joined.empty() ? "" : ",") + x;
  return joined;
}

std::string path_id(server_rec *s, const std::string &from, const std::vector<std::string> &path)
{
  std::string id = from;
  for (const std::string &t : path) {
    id = child_titled(s, id, t);
    if (id.empty()) break;
  }
  return id;
}

void wav_write(const std::string &path, uint32_t n)
{
  auto le = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; i++) s += char((v >> (8 * i)) & 0xff);
    return s;
  };
  std::string w = "RIFF" + le(36 + n, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
                  le(8000, 4) + le(1, 2) + le(8, 2) + "data" + le(n, 4) + std::string(n, '\x80');
  tarvo_test::write_file(path, w);
}

scanner::scanner()
{
  // The media server listens on any free port: tests run side by side.
  srv.data.put("http_port", "0");
}

scanner::~scanner() { stop(); }

bool scanner::start()
{
  if (!srv.start()) return false;
  running = share_scanner_start(s) != 0;
  return running;
}

void scanner::stop()
{
  if (running) {
    share_scanner_stop(s);
    share_locks_close(s);
    running = false;
  }
  srv.stop();
}

uint32_t scanner::share(const std::string &path)
{
  if (!share_scanner_lock(s)) return 501;
  uint32_t r = content_db_share(s, path.c_str());
  share_scanner_unlock(s);
  return r;
}

std::string scanner::share_id(const std::string &path)
{
  std::string name = path.substr(path.rfind('/') + 1);
  return child_titled(s, "Container:UserFiles", name);
}

std::string soap_request(const std::string &control, const std::string &type, const std::string &action,
                         const std::string &args)
{
  std::string body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
                     action + " xmlns:u=\"" + type + "\">" + args + "</u:" + action + "></s:Body></s:Envelope>";
  return "POST " + control + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
         "SOAPACTION: \"" + type + "#" + action + "\"\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string browse_request(const std::string &id)
{
  return soap_request("/control/ContentDirectory", "urn:schemas-upnp-org:service:ContentDirectory:1", "Browse",
                      "<ObjectID>" + id +
                          "</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                          "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>"
                          "<SortCriteria></SortCriteria>");
}

}  // namespace scan_test
