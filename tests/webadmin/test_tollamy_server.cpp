// The web administration program's bridge to the servers, in process,
// against a loopback host that is at once the local server (its control
// paths under "/control/") and the other media servers (descriptions and
// ContentDirectory control URLs of their own): the calls each list makes,
// the paging of Browse, and the bytes of the built lists.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "helper_tollamy.h"
#include "soap_reply.h"
#include "tollamy_config.h"
#include "tollamy_hosts.h"
#include "tollamy_list.h"
#include "tollamy_server.h"

using namespace tollamy_test;

namespace {

// A request as the host saw it: path, SOAP action (empty for a GET), body.
struct seen {
  std::string path, action, body;
};
using handler = std::function<std::string(const seen &)>;

// A loopback HTTP host that serves one connection after another (the
// bridge's calls never overlap), every request answered by the handler.
struct host {
  handler answer;
  std::mutex m;                  // guards what the handler reads, and log
  std::vector<std::string> log;  // "<path> <action>" of every request
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::thread thread;

  explicit host(handler h) : answer(std::move(h))
  {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) || listen(fd, 64) ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len))
      std::abort();
    port = ntohs(a.sin_port);
    thread = std::thread([this] {
      for (pollfd p{fd, POLLIN, 0}; !stop;)
        if (poll(&p, 1, 50) > 0) serve(accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
    });
  }
  ~host()
  {
    stop = true;
    thread.join();
    close(fd);
  }
  std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
  template <typename F> auto with(F f)
  {
    std::lock_guard<std::mutex> l(m);
    return f();
  }
  std::vector<std::string> calls()
  {
    return with([this] { return std::exchange(log, {}); });
  }

  void serve(int c)
  {
    std::string in;
    char buf[8192];
    for (ssize_t n = 1; n > 0;) {
      size_t end = in.find("\r\n\r\n"), length = 0;
      std::string head = in.substr(0, end);
      for (auto &ch : head) ch = char(std::toupper(uint8_t(ch)));
      if (size_t cl = head.find("CONTENT-LENGTH:"); cl != std::string::npos)
        length = std::strtoul(head.c_str() + cl + 15, nullptr, 10);
      if (end == std::string::npos || in.size() < end + 4 + length) {
        pollfd p{c, POLLIN, 0};
        n = poll(&p, 1, 5000) > 0 ? recv(c, buf, sizeof buf, 0) : 0;
        in.append(buf, size_t(std::max<ssize_t>(n, 0)));
        continue;
      }
      size_t sp = in.find(' '), hash = in.find('#');
      seen s{in.substr(sp + 1, in.find(' ', sp + 1) - sp - 1),
             hash < end ? in.substr(hash + 1, in.find('"', hash) - hash - 1) : "", in.substr(end + 4, length)};
      in.erase(0, end + 4 + length);
      std::string reply = with([&] {
        log.push_back(s.path + (s.action.empty() ? "" : " " + s.action));
        return answer(s);
      });
      n = send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    close(c);
  }
};

// The text of <name> in a request body.
std::string arg(const std::string &body, const std::string &name)
{
  size_t b = body.find("<" + name + ">");
  if (b == std::string::npos) return {};
  b += name.size() + 2;
  return body.substr(b, body.find("</" + name + ">", b) - b);
}

std::string xml_escaped(const std::string &s, bool quotes = false)
{
  std::string out;
  for (char c : s)
    out += c == '<'             ? "&lt;"
           : c == '>'           ? "&gt;"
           : c == '&'           ? "&amp;"
           : c == '"' && quotes ? "&quot;"
                                : std::string(1, c);
  return out;
}

struct object {
  std::string id, title;
  bool container;
};

std::string didl(const std::vector<object> &objects)
{
  std::string d =
      "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
  for (const object &o : objects) {
    const char *el = o.container ? "container" : "item";
    d += std::string("<") + el + " id=\"" + o.id + "\" parentID=\"p\" restricted=\"1\">" + "<dc:title>" +
         xml_escaped(o.title) + "</dc:title>" + "<upnp:class>" +
         (o.container ? "object.container.storageFolder" : "object.item.audioItem") + "</upnp:class></" + el + ">";
  }
  return d + "</DIDL-Lite>";
}

std::string browse_reply(const std::vector<object> &page, uint32_t returned, uint32_t total)
{
  return tarvo_test::soap_response("Browse", "<Result>" + xml_escaped(didl(page)) + "</Result><NumberReturned>" +
                                                 std::to_string(returned) + "</NumberReturned><TotalMatches>" +
                                                 std::to_string(total) + "</TotalMatches><UpdateID>1</UpdateID>");
}

std::string http(const std::string &status, const std::string &body)
{
  return "HTTP/1.1 " + status + "\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string device(const std::string &udn, const std::string &name, const std::string &icons, const std::string &cds,
                   const std::string &embedded = "")
{
  return "<device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType><friendlyName>" + name +
         "</friendlyName><manufacturer>m</manufacturer><modelName>n</modelName><UDN>" + udn + "</UDN>" + icons +
         "<serviceList>" + cds + "</serviceList>" +
         (embedded.empty() ? "" : "<deviceList>" + embedded + "</deviceList>") + "</device>";
}

std::string icon(const std::string &width, const std::string &url)
{
  return "<icon><mimetype>image/png</mimetype><width>" + width + "</width><height>48</height><depth>24</depth><url>" +
         url + "</url></icon>";
}

std::string cds(const std::string &control)
{
  return "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType><serviceId>cd</serviceId>"
         "<SCPDURL>/s.xml</SCPDURL><controlURL>" +
         control + "</controlURL><eventSubURL>/e</eventSubURL></service>";
}

std::string description(const std::string &devices)
{
  return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
         "<minor>0</minor></specVersion>" +
         devices + "</root>";
}

struct task {
  std::string udn, container, last, state;
};

// The world of the backup pages: the local server's tasks and the other
// servers' trees, one tree per ContentDirectory control path.
struct world {
  std::map<std::string, task> tasks;
  std::map<std::string, std::vector<std::string>> task_ids;                 // by UDN, as GetTaskIDs answers
  std::map<std::string, std::map<std::string, std::vector<object>>> trees;  // path -> container -> children
  std::string uris;
  std::string fail_path;  // its second page answers a fault
  std::string answer(const seen &s);
};

std::string world::answer(const seen &s)
{
  using tarvo_test::soap_fault;
  using tarvo_test::soap_response;
  if (s.path == "/a.xml")
    return http("200 OK", description(device("uuid:A", "Zeta",
                                             "<iconList>" + icon("120", "/big.png") + icon("48", "/small.png") +
                                                 icon("48", "/small2.png") + "</iconList>",
                                             cds("/cd/A"), device("uuid:N", "No directory", "", ""))));
  if (s.path == "/b.xml")
    return http("200 OK",
                description(device("uuid:B", "Beta", "", cds("/cd/B"), device("uuid:C", "Alpha", "", cds("/cd/C")))));
  if (s.path == "/control/ContentBackup") {
    if (s.action == "GetDescriptionURIs")
      return soap_response(s.action, "<DescriptionURIs>" + uris +
                                         "</DescriptionURIs><NumberOfDescriptionURIs>3"
                                         "</NumberOfDescriptionURIs>");
    if (s.action == "GetTaskIDs") {
      const auto &ids = task_ids[arg(s.body, "UDN")];
      std::string text;
      for (const auto &id : ids) text += (text.empty() ? "" : ",") + id;
      return soap_response(s.action, "<TaskIDs>" + text + "</TaskIDs><NumberOfTaskIDs>" + std::to_string(ids.size()) +
                                         "</NumberOfTaskIDs>");
    }
    auto t = tasks.find(arg(s.body, "TaskID"));
    if (s.action == "GetTaskInfo" && t != tasks.end())
      return soap_response(s.action, "<UDN>" + t->second.udn + "</UDN><ContainerID>" + t->second.container +
                                         "</ContainerID><LastBackuped>" + t->second.last + "</LastBackuped><State>" +
                                         t->second.state + "</State>");
    return soap_fault(402);
  }
  auto tree = trees.find(s.path);
  if (tree != trees.end() && s.action == "Browse") {
    std::string id = arg(s.body, "ObjectID");
    if (arg(s.body, "BrowseFlag") == "BrowseMetadata") {
      for (const auto &c : tree->second)
        for (const object &o : c.second)
          if (o.id == id) return browse_reply({o}, 1, 1);
      return soap_fault(701);
    }
    uint32_t start = uint32_t(std::stoul(arg(s.body, "StartingIndex")));
    uint32_t count = uint32_t(std::stoul(arg(s.body, "RequestedCount")));
    if (s.path == fail_path && start > 0) return soap_fault(720);
    const auto &all = tree->second[id];
    std::vector<object> page;
    for (uint32_t i = start; i < all.size() && page.size() < count; i++) page.push_back(all[i]);
    return browse_reply(page, uint32_t(page.size()), uint32_t(all.size()));
  }
  return http("404 Not Found", "");
}

std::vector<object> numbered(const std::string &prefix, uint32_t n, bool container)
{
  std::vector<object> v;
  for (uint32_t i = 0; i < n; i++) v.push_back({prefix + std::to_string(i), "T" + std::to_string(i), container});
  return v;
}

// The test folder's configuration, with the list templates naming their
// placeholders.
struct loaded : folder {
  tollamy_config c;
  loaded()
  {
    std::string params = get(dir + "/parameter/parameter.xml");
    params.replace(params.find("</parameter_list>"), 0,
                   "<parameter><id>IMAGE_RESOURCE_DIR</id><value>/img</value></parameter>"
                   "<parameter><id>DEFAULT_SERVER_ICON_FILE</id><value>server.png</value></parameter>");
    put(dir + "/parameter/parameter.xml", params);
    for (const char *list :
         {"tollamy_page_backup_server_table", "tollamy_page_backup_task_table", "tollamy_page_security_client_list",
          "tollamy_page_share_share_list", "tollamy_page_mimetype_mimetype"}) {
      put(dir + "/html/" + list + "_start.html.part",
          "<s>[[TABLE_ID]]|[[udn]]|[[friendly_name]]|[[icon_url]]|[[folder]]|[[MIMETYPE_ADD]]</s>");
      put(dir + "/html/" + list + "_end.html.part", "</e>");
    }
    put(dir + "/html/tollamy_page_backup_server_table_body.html.part",
        "<tr id=\"[[TR_ID]]\">[[SE_ID]]|[[udn]]|[[friendly_name]]|[[icon_url]]|[[control_url_cd]]|[[ntask]]|"
        "[[button_value_create_task]]</tr>");
    put(dir + "/html/tollamy_page_backup_task_table_body.html.part",
        "<tr id=\"[[TR_ID]]\">[[container_name]]|[[state]]|[[time]]|[[task_id]]|[[btn_str]]</tr>");
    put(dir + "/html/tollamy_page_security_client_list_body.html.part",
        "<tr id=\"[[TR_ID]]\">[[SE_NAME]]|[[SE_ID]]|[[MAC_AND_IP]]|[[HOST]]|[[HOST_ID]]</tr>");
    put(dir + "/html/tollamy_page_share_share_list_body.html.part", "<tr id=\"[[TR_ID]]\">[[SE_ID]]|[[PATH]]</tr>");
    put(dir + "/html/tollamy_page_mimetype_mimetype_body.html.part",
        "<tr id=\"[[TR_ID]]\">[[EXTENTION]]|[[MIMETYPE]]</tr>");
    if (chdir(dir.c_str()) != 0) ADD_FAILURE();
    EXPECT_TRUE(tollamy_load_params(&c) && tollamy_load_settings(&c) && tollamy_load_texts(&c));
  }
};

// The start part of the test templates, with what a list filled in.
std::string start(const std::string &table = "[[TABLE_ID]]", const std::string &udn = "[[udn]]",
                  const std::string &name = "[[friendly_name]]", const std::string &icon = "[[icon_url]]",
                  const std::string &folder = "[[folder]]", const std::string &add = "[[MIMETYPE_ADD]]")
{
  return "<s>" + table + "|" + udn + "|" + name + "|" + icon + "|" + folder + "|" + add + "</s>";
}

std::string item(const std::string &html) { return "<list_item>" + xml_escaped(html, true) + "</list_item>\r\n"; }

}  // namespace

TEST(TollamyServer, BackupListsAgainstLocalAndOtherServers)
{
  setenv("TZ", "UTC", 1);
  tzset();
  world w;
  host h([&w](const seen &s) { return w.answer(s); });
  w.uris = h.url("/a.xml") + "," + h.url("/gone.xml") + "," + h.url("/b.xml");
  w.task_ids = {{"uuid:A", {"t1", "t2", "t3"}},
                {"uuid:B", {"t4", "t5", "t6", "t7", "t8"}},
                {"uuid:C", {"t9", "t10", "t11", "t12", "t13"}}};
  // A: 65 children of the root, read in pages of 30, 30 and 5; three of
  // them containers, the first registered, the second with two containers
  // and an item below it.
  std::vector<object> root = numbered("i", 62, false);
  root.insert(root.begin() + 10, {"c1", "Music <&>", true});
  root.insert(root.begin() + 40, {"c2", "Photos", true});
  root.push_back({"c3", "Video", true});
  w.trees["/cd/A"] = {{"0", root}, {"c2", {{"g1", "G1", true}, {"g2", "G2", true}, {"g3", "G3", false}}}};
  w.tasks = {{"t1", {"uuid:A", "c9", "", "WAITING"}},
             {"t2", {"uuid:A", "c1", "Sun, 06 Nov 1994 08:49:37 GMT", "DISABLED"}},
             {"t3", {"uuid:A", "gone", "", "RUNNING"}}};
  // B fails its second page; C holds no container.
  w.trees["/cd/B"] = {{"0", numbered("b", 40, true)}};
  w.fail_path = "/cd/B";
  w.trees["/cd/C"] = {{"0", numbered("x", 3, false)}};
  loaded f;

  std::vector<tollamy_backup_server> servers;
  ASSERT_TRUE(tollamy_backup_server_list(&f.c, h.port, &servers));
  ASSERT_EQ(servers.size(), 3u);
  // 5 tasks before 3; equal counts by friendly name.
  EXPECT_EQ(servers[0].friendly_name, "Alpha");
  EXPECT_EQ(servers[1].friendly_name, "Beta");
  EXPECT_EQ(servers[2].friendly_name, "Zeta");
  EXPECT_EQ(servers[2].ntask, 3);
  EXPECT_EQ(servers[2].icon_url, h.url("/small.png"));
  EXPECT_EQ(servers[2].control_url, h.url("/cd/A"));
  EXPECT_EQ(servers[0].icon_url, "/img/server.png");

  // The container list of A's root: the pages, the registration scan
  // (which ends at the match) and the child containers.
  h.calls();
  std::vector<tollamy_backup_container> list;
  ASSERT_TRUE(tollamy_container_list(h.port, "uuid:A", h.url("/cd/A").c_str(), "0", &list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(tollamy_container_elements(list),
            "<container id=\"c1\" dc_title=\"Music &lt;&amp;&gt;\" registered=\"true\" nchildren=\"0\"/>"
            "<container id=\"c2\" dc_title=\"Photos\" registered=\"false\" nchildren=\"2\"/>"
            "<container id=\"c3\" dc_title=\"Video\" registered=\"false\" nchildren=\"0\"/>");
  // c1 is t2's, so its scan ends there; c2 and c3 look at all three.
  const std::string browse = "/cd/A Browse", ids = "/control/ContentBackup GetTaskIDs",
                    info = "/control/ContentBackup GetTaskInfo";
  EXPECT_EQ(h.calls(), (std::vector<std::string>{browse, browse, browse, ids, info, info, browse, ids, info, info, info,
                                                 browse, ids, info, info, info, browse}));

  // A task of another server in the scan fails the list, as does B's
  // failing second page.
  h.with([&] {
    w.task_ids["uuid:A"].insert(w.task_ids["uuid:A"].begin(), "t4x");
    w.tasks["t4x"] = {"uuid:B", "b1", "", "WAITING"};
  });
  EXPECT_FALSE(tollamy_container_list(h.port, "uuid:A", h.url("/cd/A").c_str(), "0", &list));
  h.with([&] { w.task_ids["uuid:A"].erase(w.task_ids["uuid:A"].begin()); });
  EXPECT_FALSE(tollamy_container_list(h.port, "uuid:B", h.url("/cd/B").c_str(), "0", &list));

  // The server table holds A alone: B's list failed, C has no container.
  std::string table;
  ASSERT_TRUE(tollamy_list_servers(&f.c, h.port, servers, &table));
  EXPECT_EQ(table, item(start()) +
                       item("<tr id=\"bu_s_tr_000\">bu_s_se_000|uuid:A|Zeta|" + h.url("/small.png") + "|" +
                            h.url("/cd/A") + "|3|=BACKUP_BUTTON_ADD_TASK=</tr>") +
                       item("</e>"));

  // The task list: t3's container is gone, so it is left out; the dates.
  uint32_t ntask = 0;
  std::vector<tollamy_backup_task> tasks;
  h.with([&] { w.tasks["t1"].container = "c3"; });
  ASSERT_TRUE(tollamy_task_list(h.port, "uuid:A", h.url("/cd/A").c_str(), &tasks, &ntask));
  EXPECT_EQ(ntask, 3u);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0].state, uint32_t(TOLLAMY_TASK_WAITING));
  EXPECT_EQ(tasks[1].state, uint32_t(TOLLAMY_TASK_DISABLED));
  tasks.push_back({"", "t9", "c2", "Odd", TOLLAMY_TASK_UNKNOWN});
  ASSERT_TRUE(tollamy_list_tasks(&f.c, servers[2], tasks, &table));
  EXPECT_EQ(table,
            item(start("[[TABLE_ID]]", "uuid:A", "Zeta", h.url("/small.png"), "=BACKUP_TASK_LIST_CONTAINER=")) +
                item("<tr id=\"bu_t_tr_000\">Video|=BACKUP_TASK_STATE_WAITING=|-|t1|"
                     "=BACKUP_CHANGE_TASK_STATE_ENABLE=</tr>") +
                item("<tr id=\"bu_t_tr_001\">Music &lt;&amp;&gt;|=BACKUP_TASK_STATE_DISABLE=|1994/11/06 08:49|t2|"
                     "=BACKUP_CHANGE_TASK_STATE_DISABLE=</tr>") +
                item("<tr id=\"bu_t_tr_002\">Odd|=BACKUP_TASK_STATE_UNKNOWN=|-|t9|"
                     "=BACKUP_CHANGE_TASK_STATE_ENABLE=</tr>") +
                item("</e>"));
  tasks[0].last_backuped = "yesterday";
  EXPECT_FALSE(tollamy_list_tasks(&f.c, servers[2], tasks, &table));
}

TEST(TollamyServer, PagedBrowseEndsOnEveryServer)
{
  // A server that does not know its total (TotalMatches 0) is read until a
  // page brings nothing; servers that answer NumberReturned > 0 without
  // ever reaching the end (TotalMatches 0 or beyond reach, an empty page)
  // are stopped.
  std::string mode;
  uint32_t pages = 0;
  std::vector<std::string> asked;
  host h([&](const seen &s) {
    pages++;
    asked.push_back(arg(s.body, "StartingIndex") + "+" + arg(s.body, "RequestedCount"));
    uint32_t start = uint32_t(std::stoul(arg(s.body, "StartingIndex")));
    std::vector<object> page = numbered("o" + std::to_string(start) + "_", 30, false);
    if (mode == "zero-endless") return browse_reply(page, 30, 0);
    if (mode == "zero") {
      page.resize(start < 70 ? std::min<size_t>(70 - start, 30) : 0);
      return browse_reply(page, uint32_t(page.size()), 0);
    }
    if (mode == "empty") return browse_reply({}, 5, 100);
    if (mode == "endless") return browse_reply(page, 30, 4294967295u);
    // "count": 100 children, of which the caller asks for 65.
    page.resize(std::min<size_t>(std::stoul(arg(s.body, "RequestedCount")), 30));
    return browse_reply(page, uint32_t(page.size()), 100);
  });
  std::string url = h.url("/cd");
  auto use = [&](const char *m) { h.with([&] { mode = m, pages = 0, asked.clear(); }); };
  auto pages_asked = [&] {
    uint32_t n = 0;
    h.with([&] { n = pages; });
    return n;
  };
  avcp_didl_object_list list = nullptr;
  use("zero");
  ASSERT_EQ(tollamy_browse_children(url.c_str(), "0", 0, &list), 0u);
  uint32_t n = 0;
  while (list[n]) n++;
  EXPECT_EQ(n, 70u);
  EXPECT_EQ(pages_asked(), 4u);
  avcp_didl_object_list_free(list);

  use("zero-endless");
  list = nullptr;
  EXPECT_EQ(tollamy_browse_children(url.c_str(), "0", 0, &list), 501u);
  EXPECT_EQ(list, nullptr);

  use("empty");
  ASSERT_EQ(tollamy_browse_children(url.c_str(), "0", 0, &list), 0u);
  EXPECT_EQ(list[0], nullptr);
  EXPECT_EQ(pages_asked(), 1u);
  avcp_didl_object_list_free(list);

  use("endless");
  list = nullptr;
  EXPECT_EQ(tollamy_browse_children(url.c_str(), "0", 0, &list), 501u);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(pages_asked(), 334u);  // 10,000 objects taken, the page beyond refused

  use("count");
  ASSERT_EQ(tollamy_browse_children(url.c_str(), "0", 65, &list), 0u);
  h.with([&] { EXPECT_EQ(asked, (std::vector<std::string>{"0+30", "30+30", "60+5"})); });
  avcp_didl_object_list_free(list);
}

TEST(TollamyServer, LocalWrappersRebuildAndPlainLists)
{
  std::vector<std::string> shares = {"/m/a", "/m/b", "/m/c"}, bodies;
  host h([&](const seen &s) {
    bodies.push_back(s.action + ":" + arg(s.body, "MacList") + "|" + arg(s.body, "IpList") + "|" +
                     arg(s.body, "ClientState") + arg(s.body, "UDN") + "|" + arg(s.body, "ContainerID"));
    if (s.action == "GetFriendlyName")
      return tarvo_test::soap_response(s.action, "<FriendlyName>Den &amp; &lt;box&gt;</FriendlyName>");
    if (s.action == "CreateTask") return tarvo_test::soap_response(s.action, "<TaskID>t1</TaskID>");
    if (s.action == "X_GetFileTypeList")
      return tarvo_test::soap_response(s.action,
                                       "<FileExtensionList>mp3,a\\,b</FileExtensionList><MimeTypeList>"
                                       "audio/mpeg,x/y</MimeTypeList><NumberOfFileTypes>2"
                                       "</NumberOfFileTypes>");
    std::string path = arg(s.body, "Path");
    if (s.action == "X_ShareList") {
      std::string text;
      for (const auto &p : shares) text += (text.empty() ? "" : ",") + p;
      return tarvo_test::soap_response(s.action, "<PathList>" + text + "</PathList>");
    }
    // "/m/b" cannot be taken off; "/m/c" cannot be put back.
    if (s.action == "X_Unshare" && path == "/m/b") return tarvo_test::soap_fault(801);
    if (s.action == "X_Share" && path == "/m/c") return tarvo_test::soap_fault(802);
    if (s.action == "GetAllowList")
      return tarvo_test::soap_response(s.action,
                                       "<AllowMacList>00:11,00:22,00:33</AllowMacList><AllowIpList>"
                                       "10.0.0.1,10.0.0.2,10.0.0.3</AllowIpList>"
                                       "<NumberOfAllowClients>3</NumberOfAllowClients>");
    return tarvo_test::soap_response(s.action, "");
  });
  EXPECT_FALSE(tollamy_server_rebuild(h.port));
  EXPECT_EQ(h.calls(),
            (std::vector<std::string>{"/control/ContentDirectory X_ShareList", "/control/ContentDirectory X_Unshare",
                                      "/control/ContentDirectory X_Unshare", "/control/ContentDirectory X_Unshare",
                                      "/control/ContentDirectory X_Share", "/control/ContentDirectory X_Share"}));
  h.with([&] { shares = {"/m/a"}; });
  EXPECT_TRUE(tollamy_server_rebuild(h.port));

  // The wrappers hand their arguments over in the actions' order.
  std::string name;
  std::vector<std::string> exts, mimes;
  h.with([&] { bodies.clear(); });
  EXPECT_TRUE(tollamy_server_friendly_name(h.port, &name));
  EXPECT_EQ(name, "Den & <box>");
  EXPECT_TRUE(tollamy_server_file_types(h.port, &exts, &mimes));
  EXPECT_EQ(exts, (std::vector<std::string>{"mp3", "a,b"}));
  EXPECT_EQ(mimes, (std::vector<std::string>{"audio/mpeg", "x/y"}));
  EXPECT_TRUE(tollamy_server_set_client_permissions(h.port, "m1,m2", "i1,i2", "deny"));
  EXPECT_TRUE(tollamy_server_create_task(h.port, "uuid:A", "c1"));
  h.with([&] {
    EXPECT_EQ(bodies, (std::vector<std::string>{"GetFriendlyName:|||", "X_GetFileTypeList:|||",
                                                "SetClientPermissions:m1,m2|i1,i2|deny|", "CreateTask:||uuid:A|c1"}));
  });

  // The client table with host names from the hosts file: one name has
  // markup, one address has none; rows keep the server's order.
  std::vector<std::string> macs, ips, hosts;
  ASSERT_TRUE(tollamy_server_allow_list(h.port, &macs, &ips));
  loaded f;
  put(f.dir + "/hosts",
      "# local\n10.0.0.10 far\n10.0.0.1\tden  den.lan # the den\n\n10.0.0.3 <b>x</b>\n"
      "10.0.0.1 second\n");
  setenv("TARVO_HOSTS_FILE", (f.dir + "/hosts").c_str(), 1);
  tollamy_host_names(ips, &hosts);
  unsetenv("TARVO_HOSTS_FILE");
  EXPECT_EQ(hosts, (std::vector<std::string>{"den", "", "<b>x</b>"}));
  std::string table;
  ASSERT_TRUE(tollamy_list_clients(&f.c, true, macs, ips, hosts, &table));
  EXPECT_EQ(table, item(start("sec_a_list_body")) +
                       item("<tr id=\"sec_a_tr_000\">sec_a_se|sec_a_se_000|00:11,10.0.0.1|den|10.0.0.1</tr>") +
                       item("<tr id=\"sec_a_tr_001\">sec_a_se|sec_a_se_001|00:22,10.0.0.2||10.0.0.2</tr>") +
                       item("<tr id=\"sec_a_tr_002\">sec_a_se|sec_a_se_002|00:33,10.0.0.3|&lt;b&gt;x&lt;/b&gt;|"
                            "10.0.0.3</tr>") +
                       item("</e>"));

  // Row ids have three digits; paths and file types enter as text.
  std::vector<std::string> paths;
  for (int i = 0; i < 8; i++) paths.push_back("/m/" + std::to_string(i));
  paths[7] = "/m/\"q\" & <r>";
  ASSERT_TRUE(tollamy_list_shares(&f.c, paths, &table));
  EXPECT_NE(table.find(item("<tr id=\"share_tr_007\">share_se_007|/m/&quot;q&quot; &amp; &lt;r&gt;</tr>")),
            std::string::npos)
      << table;
  ASSERT_TRUE(tollamy_list_mimetypes(&f.c, {"a&b"}, {"x/<y>"}, &table));
  EXPECT_EQ(table, item(start("[[TABLE_ID]]", "[[udn]]", "[[friendly_name]]", "[[icon_url]]", "[[folder]]",
                              "=MIMETYPE_ADD=")) +
                       item("<tr id=\"mime_tr_000\">a&amp;b|x/&lt;y&gt;</tr>") + item("</e>"));
  EXPECT_EQ(tollamy_row_id(1234), "234");
  ASSERT_TRUE(tollamy_list_shares(&f.c, {}, &table));
  EXPECT_EQ(table, item(start()) + item("</e>"));
}
