// The HTML view base: event map routing, key filter, load phases.
#include "dhtml_view.h"

#include <tarvo_platform/clock.h>

#include <glib.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <vector>

namespace {

// Virtual-key codes the filter knows.
constexpr uint32_t VK_ESCAPE = 0x1B, VK_HELP = 0x2F, VK_LEFT = 0x25, VK_RIGHT = 0x27, VK_F1 = 0x70, VK_F12 = 0x7B;

const char *event_name(int dispid)
{
  switch (dispid) {
  case DISPID_HTMLELEMENTEVENTS_ONCLICK: return "click";
  case DISPID_HTMLELEMENTEVENTS_ONDBLCLICK: return "dblclick";
  default: return nullptr;  // an event the page's capture does not deliver
  }
}

int capture_kind(DHtmlEventKind kind)
{
  switch (kind) {
  case DHTMLEVENTMAPENTRY_NAME:
  case DHTMLEVENTMAPENTRY_ELEMENT: return HTML_CAPTURE_BY_ID;
  case DHTMLEVENTMAPENTRY_CLASS: return HTML_CAPTURE_BY_CLASS;
  case DHTMLEVENTMAPENTRY_TAG: return HTML_CAPTURE_BY_TAG;
  default: return 0;  // controls: there are no embedded controls to sink
  }
}

bool entry_takes(const DHtmlEventMapEntry &e, const HTML_EVENT_SNAPSHOT *el)
{
  HTML_CAPTURE c{capture_kind(e.kind), event_name(e.dispid), e.name};
  return c.kind && c.event && HtmlCaptureMatches(&c, el);
}

std::string real_path(const std::string &p)
{
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

}  // namespace

void dhtml_debug_line(const char *text) { platform_debug_output((std::string(text) + "\r").c_str()); }

int dhtml_key_filter(const HTML_INPUT_MSG *m)
{
  bool key = m->message == WM_KEYDOWN || m->message == WM_KEYUP || m->message == WM_SYSKEYDOWN ||
             m->message == WM_SYSKEYUP;
  if (key && (m->vk == VK_ESCAPE || m->vk == VK_HELP || (m->vk >= VK_F1 && m->vk <= VK_F12))) {
    dhtml_debug_line("Function key ignored");
    return 1;
  }
  if (m->ctrl && (m->vk == 'N' || m->vk == 'P' || m->vk == 'D')) {
    const char *line = m->vk == 'N' ? "Ctrl-N ignored" : m->vk == 'P' ? "Ctrl-P ignored" : "Ctrl-D ignored";
    dhtml_debug_line(line);
    return 1;
  }
  if (m->alt && (m->vk == VK_LEFT || m->vk == VK_RIGHT)) {
    dhtml_debug_line(m->vk == VK_LEFT ? "Atl-Left ignored" : "Atl-Right ignored");
    return 1;
  }
  return m->message == WM_RBUTTONDOWN || m->message == WM_RBUTTONDBLCLK;
}

int dhtml_uri_is_local(const char *uri, const std::string &folder)
{
  if (!uri || folder.empty()) return 0;
  std::string u(uri);
  u = u.substr(0, u.find_first_of("?#"));  // a query or fragment names the same file
  gchar *host = nullptr;
  gchar *path = g_filename_from_uri(u.c_str(), &host, nullptr);
  bool local = path && (!host || !*host);
  std::string file = local ? real_path(path) : std::string(), dir = real_path(folder);
  g_free(path);
  g_free(host);
  if (file.empty() || dir.empty()) return 0;
  if (dir != "/") dir += "/";
  return file.compare(0, dir.size(), dir) == 0;
}

CDHtmlViewSpec::~CDHtmlViewSpec() { DestroyView(); }

LRESULT CDHtmlViewSpec::view_proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l)
{
  auto *self = static_cast<CDHtmlViewSpec *>(GetWindowUserData(hwnd));
  if (!self) return 0;
  if (msg == WM_DESTROY) {
    self->OnDestroy();
    return 0;
  }
  return self->WindowProc(msg, w, l);
}

LRESULT CDHtmlViewSpec::WindowProc(UINT, WPARAM, LPARAM) { return 0; }

int CDHtmlViewSpec::CreateView(const char *class_name, void *parent)
{
  if (m_hWnd) return 0;
  m_hWnd = CreateMessageWindow(class_name, "", view_proc, this);
  if (!m_hWnd) return 0;
  static const HTML_VIEW_CALLBACKS callbacks{
      [](void *u, const char *uri) { static_cast<CDHtmlViewSpec *>(u)->OnBeforeNavigate2(uri); },
      [](void *u, const char *uri) { static_cast<CDHtmlViewSpec *>(u)->OnNavigateComplete2(uri); },
      [](void *u, const char *uri) { static_cast<CDHtmlViewSpec *>(u)->OnDocumentComplete(uri); },
      [](void *u, const HTML_EVENT_SNAPSHOT *e) { return static_cast<CDHtmlViewSpec *>(u)->RouteEvent(e); },
      [](void *u, const HTML_INPUT_MSG *m) { return static_cast<CDHtmlViewSpec *>(u)->PreTranslateMessage(m); },
  };
  m_page = HtmlViewCreate(m_hWnd, parent, &callbacks, this);
  if (!m_page || !capture_map()) {
    DestroyView();
    return 0;
  }
  return 1;
}

void CDHtmlViewSpec::DestroyView()
{
  if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);  // OnDestroy releases the page
  m_hWnd = nullptr;
  OnDestroy();
}

void CDHtmlViewSpec::OnDestroy()
{
  m_document = false;
  if (m_page) HtmlViewDestroy(m_page);
  m_page = nullptr;
}

// The page captures the events of every entry it can deliver, from the
// next document on.
int CDHtmlViewSpec::capture_map()
{
  std::vector<HTML_CAPTURE> list;
  for (const DHtmlEventMapEntry *e = GetDHtmlEventMap(); e && e->kind != DHTMLEVENTMAPENTRY_END; ++e) {
    int kind = capture_kind(e->kind);
    const char *ev = event_name(e->dispid);
    if (kind && ev && e->name) list.push_back({kind, ev, e->name});
  }
  return HtmlViewSetCapture(m_page, list.data(), uint32_t(list.size()));
}

int CDHtmlViewSpec::Navigate2(const char *url) { return m_page && HtmlViewNavigate(m_page, url); }

int CDHtmlViewSpec::DocumentIsLocal() const
{
  return m_document && m_page && dhtml_uri_is_local(HtmlViewUri(m_page), m_localFolder);
}

void CDHtmlViewSpec::OnBeforeNavigate2(const char *) { m_document = false; }

void CDHtmlViewSpec::OnNavigateComplete2(const char *) { m_document = true; }

void CDHtmlViewSpec::OnDocumentComplete(const char *) {}

HRESULT CDHtmlViewSpec::RouteEvent(const HTML_EVENT_SNAPSHOT *element)
{
  // A page from elsewhere cannot reach the handlers, which act on the server.
  if (!DocumentIsLocal()) return E_ACCESSDENIED;
  for (const DHtmlEventMapEntry *e = GetDHtmlEventMap(); e && e->kind != DHTMLEVENTMAPENTRY_END; ++e)
    if (e->handler && entry_takes(*e, element)) return (this->*(e->handler))(element);
  return S_FALSE;
}

HRESULT CDHtmlViewSpec::GetElementChecked(const HTML_EVENT_SNAPSHOT *element, int *checked)
{
  if (!element || element->checked < 0) return E_INVALIDARG;
  *checked = element->checked;
  return S_OK;
}
