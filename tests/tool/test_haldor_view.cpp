// The management page view on the record-only page, against a loopback
// stand-in of the management port and stand-in share calls: the scripts
// after the text pushes for stopped, started and unreachable servers, the
// start/stop button's transitioning then settled display (also when the
// start fails), auto-run, share-add with its limits and folder rule, and
// no handler or script for a page from elsewhere.
#include "haldor_resources.h"
#include "haldor_view.h"

#include <gtest/gtest.h>
#include <tarvo_ui/ui_page.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "management_peer.h"
#include "tarvo_test.h"

namespace {

// Polls every 100 ms.
const bool scaled = setenv("TARVO_TIME_SCALE", "50", 1) == 0 && setenv("TARVO_PAGE_BACKEND", "record", 1) == 0;

using tarvo_test::management_peer;

// The share calls.
struct shares {
  std::mutex m;
  std::vector<std::string> list, shared_now;
};
shares &fake_shares()
{
  static shares s;
  return s;
}
const haldor_share_source fake_source{
    [](sys_str_list *paths) -> uint32_t {
      std::lock_guard<std::mutex> g(fake_shares().m);
      std::vector<char *> v;
      for (auto &p : fake_shares().list) v.push_back(p.data());
      v.push_back(nullptr);
      return sys_str_list_clone(v.data(), paths) ? 0 : 501;
    },
    [](const char *path, int *state) -> uint32_t {
      std::lock_guard<std::mutex> g(fake_shares().m);
      *state = 0;
      for (auto &p : fake_shares().list) *state |= p == path;
      return 0;
    },
    [](const char *path) -> uint32_t {
      std::lock_guard<std::mutex> g(fake_shares().m);
      fake_shares().shared_now.push_back(path);
      return 0;
    },
};

bool run_until(const std::function<bool()> &done, int ms = 5000)
{
  gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
  while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE) || (g_usleep(1000), true);
  return done();
}

std::vector<std::string> scripts_since(uint32_t from)
{
  std::vector<std::string> out;
  for (uint32_t i = from; i < PageScriptCount(); ++i) out.push_back(PageScriptAt(i));
  return out;
}

std::string change_state(const char *state) { return std::string("cntl('cntl', 'change_state', '") + state + "')"; }

HRESULT click(CHaldor2View &view, const char *id, int checked = -1)
{
  char ev[] = "click", empty[] = "", tag[] = "INPUT";
  HTML_EVENT_SNAPSHOT s{ev, const_cast<char *>(id), tag, empty, checked, empty};
  return HtmlViewDispatchEvent(view.Page(), &s);
}

// The program folder with its settings, texts and page.
struct tool_tree {
  tarvo_test::scratch_dir dir;
  explicit tool_tree(uint16_t dmsm_port)
  {
    namespace fs = std::filesystem;
    std::string src = tarvo_test::data_dir() + "/../tool/data";
    std::string xml = tarvo_test::read_file(src + "/setting.xml");
    xml.replace(xml.find("30002"), 5, std::to_string(dmsm_port));
    xml.replace(xml.find("30000"), 5, "0");
    tarvo_test::write_file(dir / "setting.xml", xml);
    fs::create_directories(dir.path / "text");
    std::string texts = tarvo_test::read_file(src + "/text/text_en.xml");
    // A text with a quote must still reach the page as one literal.
    texts.replace(texts.find("Loading..."), 10, "Couldn't load");
    tarvo_test::write_file(dir / "text/text_en.xml", texts);
    fs::create_directories(dir.path / "page/en");
    tarvo_test::write_file(dir / "page/en/index.html", "<html></html>");
    fs::create_directories(dir.path / "appdata/tarvo/haldor");
    tarvo_test::write_file(dir / "appdata/tarvo/haldor/haldor.ini", "[General]\nLang=en\n");
    setenv("TARVO_SERVICE_DIR", dir.path.c_str(), 1);
    setenv("TARVO_COMMON_APPDATA", (dir / "appdata").c_str(), 1);
  }
};

management_peer *peer;
tool_tree *tree;
CHaldor2View *view;

class HaldorView : public ::testing::Test {
 protected:
  static void SetUpTestSuite()
  {
    haldor_resources_init();
    peer = new management_peer;
    peer->active = true;
    tree = new tool_tree(peer->port);
    haldor_view_set_share_source(&fake_source);
    CSubjectServerState::Instance().server_state_start(peer->port);
    CHaldor2View::SetInitialPage("security");
  }
  static void TearDownTestSuite()
  {
    delete view;
    CSubjectServerState::Instance().server_state_stop();
    delete tree;
    delete peer;
  }
};

TEST_F(HaldorView, StateDisplayAndStartStop)
{
  ASSERT_TRUE(scaled);
  uint32_t from = PageScriptCount();
  view = new CHaldor2View;
  ASSERT_EQ(view->Create(nullptr), 1);
  ASSERT_TRUE(run_until([&] { return PageScriptCount() >= from + 4; }));
  std::vector<std::string> s = scripts_since(from);
  EXPECT_EQ(s[0], "msg_add({COMMON_FAILED_LOADING_PAGE : 'The page could not be loaded.',\t"
                  "COMMON_FAILED_LOADING_LIST : 'The list could not be loaded.',\tCOMMON_LOADING_PAGE : 'Couldn\\'t load'});");
  EXPECT_EQ(s[1], "cntl('cntl', 'set_text', {start_server : 'Start server',\t stop_server : 'Stop server',\t "
                  "service_stopped : 'The media server service is not running.',\t server_stopping : 'The server is "
                  "stopping...',\t server_stopped : 'The server is stopped.',\t server_starting : 'The server is "
                  "starting...',\t server_started : 'The server is running.'});");
  // Started: the initial page of the command line follows the state.
  EXPECT_EQ(std::vector<std::string>(s.begin() + 2, s.end()),
            (std::vector<std::string>{change_state("autorun_disabled"), change_state("server_started"),
                                      "qel_tab_main.set_initial_page('security')"}));

  // Stop: "stopping" at once, then the settled state once the server has switched.
  from = PageScriptCount();
  EXPECT_EQ(click(*view, "qel_control_change_btn"), S_OK);
  EXPECT_EQ(scripts_since(from),
            (std::vector<std::string>{change_state("autorun_disabled"), change_state("server_stopping")}));
  // A poll may still see the server running before it has switched; the
  // state it settles in is what counts.
  EXPECT_TRUE(run_until([&] { return scripts_since(from).back() == change_state("server_stopped"); }));
  EXPECT_FALSE(peer->active);

  // A start that fails: "starting", then the stopped state again, not "starting" for ever.
  run_until([] { return !CSubjectServerState::Instance().busy(); });
  peer->fail_start = true;
  from = PageScriptCount();
  EXPECT_EQ(click(*view, "qel_control_change_btn"), S_OK);
  EXPECT_EQ(scripts_since(from).back(), change_state("server_starting"));
  EXPECT_TRUE(run_until([&] { return scripts_since(from).back() == change_state("server_stopped"); }));
  peer->fail_start = false;

  // The server starts elsewhere: the settled state follows the monitor.
  from = PageScriptCount();
  peer->auto_run = true;
  peer->active = true;
  ASSERT_TRUE(run_until([&] { return PageScriptCount() >= from + 2; }));
  EXPECT_EQ(scripts_since(from),
            (std::vector<std::string>{change_state("autorun_enabled"), change_state("server_started")}));

  // Auto-run: the box's new state is set; refused without the service.
  EXPECT_EQ(click(*view, "qel_control_autorun_chk", 0), S_OK);
  EXPECT_FALSE(peer->auto_run);
  EXPECT_EQ(click(*view, "qel_control_autorun_chk", 1), S_OK);
  EXPECT_TRUE(peer->auto_run);

  // Unreachable: the state shown, and the buttons answer with the alert.
  from = PageScriptCount();
  peer->silent = true;
  ASSERT_TRUE(run_until([&] { return PageScriptCount() >= from + 1; }));
  EXPECT_EQ(scripts_since(from), (std::vector<std::string>{change_state("service_stopped")}));
  from = PageScriptCount();
  EXPECT_EQ(click(*view, "qel_control_change_btn"), S_OK);
  EXPECT_LT(click(*view, "qel_control_autorun_chk", 1), 0);
  std::string alert = "alert('The media server service is not running. Start the service and try again.')";
  EXPECT_EQ(scripts_since(from), (std::vector<std::string>{alert, alert}));
  peer->silent = false;
}

TEST_F(HaldorView, ShareAddAndPageOrigin)
{
  ASSERT_NE(view, nullptr);
  peer->active = true;
  ASSERT_TRUE(run_until([] { return CSubjectServerState::Instance().server_state() == 2; }));
  namespace fs = std::filesystem;
  fs::create_directories(tree->dir.path / "media/new");
  fs::create_directories(tree->dir.path / "media/.hidden");
  fs::create_directories(tree->dir.path / "media/old");
  fs::create_directories(tree->dir.path / "media/bad\xff");
  {
    std::lock_guard<std::mutex> g(fake_shares().m);
    for (int i = 0; i < 63; ++i) fake_shares().list.push_back("/s/" + std::to_string(i));
  }
  std::vector<int> rule;
  int dialogs = 0;
  haldor_view_set_folder_dialog([&](HWND, const std::string &title, const std::function<int(const char *)> &ok,
                                    std::string *path) {
    ++dialogs;
    EXPECT_EQ(title, "Select the folder to publish.");  // the tool's language, not the session's
    for (const char *f : {"media/new", "media/.hidden", "media/old", "media/bad\xff", "media/none"})
      rule.push_back(ok((tree->dir / f).c_str()));
    *path = tree->dir / "media/new";
    return 1;
  });
  uint32_t from = PageScriptCount();
  EXPECT_EQ(click(*view, "qel_con_share_add"), S_FALSE);
  EXPECT_EQ(scripts_since(from), (std::vector<std::string>{"alert('No more folders can be shared. Remove a shared "
                                                            "folder first.')"}));
  EXPECT_EQ(dialogs, 0);
  {
    std::lock_guard<std::mutex> g(fake_shares().m);
    fake_shares().list.resize(62);
    fake_shares().list.push_back(tree->dir / "media/old");
    fake_shares().list.erase(fake_shares().list.begin());
  }
  from = PageScriptCount();
  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  EXPECT_EQ(click(*view, "qel_con_share_add"), S_OK);
  unsetenv("LC_ALL");
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(rule, (std::vector<int>{1, 0, 0, 0, 0}));
  EXPECT_EQ(fake_shares().shared_now, (std::vector<std::string>{tree->dir / "media/new"}));
  EXPECT_EQ(scripts_since(from), (std::vector<std::string>{"tollamy_page_share_get_share_list(true)"}));

  // The page reloads itself: texts and the whole state again, but the
  // initial page only ever once.
  std::string page = tree->dir / "page/en/index.html";
  gchar *uri = g_filename_to_uri(page.c_str(), nullptr, nullptr);
  from = PageScriptCount();
  ASSERT_EQ(view->Navigate2(uri), 1);
  ASSERT_TRUE(run_until([&] { return PageScriptCount() >= from + 4; }));
  run_until([] { return false; }, 100);
  std::vector<std::string> s = scripts_since(from);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].substr(0, 8), "msg_add(");
  EXPECT_EQ(std::vector<std::string>(s.begin() + 2, s.end()),
            (std::vector<std::string>{change_state("autorun_enabled"), change_state("server_started")}));
  g_free(uri);

  // A page from elsewhere gets nothing, and its clicks reach no handler.
  tarvo_test::scratch_dir other;
  tarvo_test::write_file(other / "index.html", "<html></html>");
  uri = g_filename_to_uri((other / "index.html").c_str(), nullptr, nullptr);
  from = PageScriptCount();
  ASSERT_EQ(view->Navigate2(uri), 1);
  run_until([] { return false; }, 200);
  EXPECT_EQ(click(*view, "qel_control_change_btn"), E_ACCESSDENIED);
  EXPECT_EQ(view->update_page_hosts(), 0);
  EXPECT_EQ(PageScriptCount(), from);
  g_free(uri);
}

// The keys a browser would act on never reach the page, each with its
// debug line ended by CR LF; other keys pass.
TEST(HaldorViewKeys, FilterAndDebugLines)
{
  tarvo_test::scratch_dir dir;
  setenv("TARVO_DEBUG_OUTPUT", (dir / "debug").c_str(), 1);
  auto key = [](UINT message, uint32_t vk, int ctrl = 0, int alt = 0) {
    HTML_INPUT_MSG m{message, vk, ctrl, alt, 0};
    return dhtml_key_filter(&m);
  };
  EXPECT_EQ(key(WM_KEYDOWN, 0x74), 1);            // F5
  EXPECT_EQ(key(WM_SYSKEYUP, 0x1B, 0, 1), 1);     // Escape
  EXPECT_EQ(key(WM_KEYDOWN, 'N', 1), 1);
  EXPECT_EQ(key(WM_KEYDOWN, 'D', 1), 1);
  EXPECT_EQ(key(WM_SYSKEYDOWN, 0x25, 0, 1), 1);   // Alt+Left
  EXPECT_EQ(key(WM_SYSKEYDOWN, 0x27, 0, 1), 1);
  EXPECT_EQ(key(WM_RBUTTONDOWN, 0), 1);
  EXPECT_EQ(key(WM_RBUTTONDBLCLK, 0), 1);
  EXPECT_EQ(key(WM_KEYDOWN, 'N'), 0);
  EXPECT_EQ(key(WM_KEYDOWN, 0x25), 0);
  EXPECT_EQ(key(WM_KEYDOWN, 'C', 1), 0);
  unsetenv("TARVO_DEBUG_OUTPUT");
  EXPECT_EQ(tarvo_test::read_file(dir / "debug"),
            "Function key ignored\r\nFunction key ignored\r\nCtrl-N ignored\r\nCtrl-D ignored\r\n"
            "Atl-Left ignored\r\nAtl-Right ignored\r\n");
}

// The event map routes by id, by one of the element's classes and by tag,
// first entry first; control entries are taken and never match.
struct map_view : CDHtmlViewSpec {
  std::vector<std::string> calls;
  HRESULT by_id(const HTML_EVENT_SNAPSHOT *) { return calls.push_back("id"), S_OK; }
  HRESULT by_class(const HTML_EVENT_SNAPSHOT *) { return calls.push_back("class"), E_FAIL; }
  HRESULT by_tag(const HTML_EVENT_SNAPSHOT *e) { return calls.push_back(std::string("tag ") + e->tag), S_OK; }
  const DHtmlEventMapEntry *GetDHtmlEventMap() override
  {
    static const DHtmlEventMapEntry map[] = {
        {DHTMLEVENTMAPENTRY_CONTROL, DISPID_HTMLELEMENTEVENTS_ONCLICK, "ctl", static_cast<DHtmlEventHandler>(&map_view::by_id)},
        {DHTMLEVENTMAPENTRY_NAME, DISPID_HTMLELEMENTEVENTS_ONCLICK, "one", static_cast<DHtmlEventHandler>(&map_view::by_id)},
        {DHTMLEVENTMAPENTRY_CLASS, DISPID_HTMLELEMENTEVENTS_ONCLICK, "warn", static_cast<DHtmlEventHandler>(&map_view::by_class)},
        {DHTMLEVENTMAPENTRY_TAG, DISPID_HTMLELEMENTEVENTS_ONDBLCLICK, "td", static_cast<DHtmlEventHandler>(&map_view::by_tag)},
        {DHTMLEVENTMAPENTRY_END, 0, nullptr, nullptr},
    };
    return map;
  }
};

TEST_F(HaldorView, EventMapKinds)
{
  map_view v;
  ASSERT_EQ(v.CreateView("MapView", nullptr), 1);
  v.SetLocalFolder(tree->dir.path.string());
  gchar *uri = g_filename_to_uri((tree->dir / "page/en/index.html").c_str(), nullptr, nullptr);
  ASSERT_EQ(v.Navigate2(uri), 1);
  g_free(uri);
  ASSERT_TRUE(run_until([&] { return v.DocumentIsLocal() == 1; }));
  auto send = [&](const char *ev, const char *id, const char *tag, const char *cls) {
    HTML_EVENT_SNAPSHOT s{const_cast<char *>(ev), const_cast<char *>(id), const_cast<char *>(tag),
                          const_cast<char *>(cls), -1, const_cast<char *>("")};
    return HtmlViewDispatchEvent(v.Page(), &s);
  };
  EXPECT_EQ(send("click", "one", "BUTTON", "warn"), S_OK);        // the id entry comes first
  EXPECT_EQ(send("click", "two", "BUTTON", "big  warn x"), E_FAIL);
  EXPECT_EQ(send("click", "two", "BUTTON", "warning"), S_FALSE);   // not captured: a class is a whole word
  EXPECT_EQ(send("dblclick", "", "TD", ""), S_OK);
  EXPECT_EQ(send("click", "", "TD", ""), S_FALSE);
  EXPECT_EQ(send("click", "ctl", "OBJECT", ""), S_FALSE);
  EXPECT_EQ(v.calls, (std::vector<std::string>{"id", "class", "tag TD"}));
}

}  // namespace
