// The HTML view base of the management tool: a page in a view window whose
// DOM events reach member functions through an event map (by element id,
// class or tag), the handler's result deciding whether the default action
// happens, and whose keys a browser would act on are filtered out.
#pragma once

#include <tarvo_com/com.h>
#include <tarvo_html/html_view.h>
#include <tarvo_ui/ui_core.h>

#include <string>

// The DOM events of the event map, by their dispatch ids.
constexpr int DISPID_HTMLELEMENTEVENTS_ONCLICK = -600;
constexpr int DISPID_HTMLELEMENTEVENTS_ONDBLCLICK = -601;

class CDHtmlViewSpec;
// A handler takes the element the event came from.
using DHtmlEventHandler = HRESULT (CDHtmlViewSpec::*)(const HTML_EVENT_SNAPSHOT *element);

enum DHtmlEventKind {
  DHTMLEVENTMAPENTRY_NAME,     // by element id, through the document's events
  DHTMLEVENTMAPENTRY_CLASS,    // by class
  DHTMLEVENTMAPENTRY_TAG,      // by tag name
  DHTMLEVENTMAPENTRY_ELEMENT,  // a sink on one element, by its id
  DHTMLEVENTMAPENTRY_CONTROL,  // an embedded control: accepted, no such controls here
  DHTMLEVENTMAPENTRY_END,
};

struct DHtmlEventMapEntry {
  DHtmlEventKind kind;
  int dispid;
  const char *name;
  DHtmlEventHandler handler;
};

// Debug lines of the key filter, with the line ends they carry.
void dhtml_debug_line(const char *text);
// The key filter: 1 when msg is swallowed (a function key, Ctrl+N/P/D,
// Alt+Left/Right, a right button press or double click).
int dhtml_key_filter(const HTML_INPUT_MSG *msg);
// 1 when uri is a local file inside folder (an absolute folder path).
int dhtml_uri_is_local(const char *uri, const std::string &folder);

class CDHtmlViewSpec {
 public:
  CDHtmlViewSpec() = default;
  virtual ~CDHtmlViewSpec();
  CDHtmlViewSpec(const CDHtmlViewSpec &) = delete;
  CDHtmlViewSpec &operator=(const CDHtmlViewSpec &) = delete;

  // Makes the view's window and its page (inside parent, a GtkContainer *,
  // when not NULL), capturing the events of the map.  1 on success.
  int CreateView(const char *class_name, void *parent);
  // Destroys the window and the page (WM_DESTROY).
  void DestroyView();
  HWND GetSafeHwnd() const { return m_hWnd; }
  HTML_VIEW *Page() const { return m_page; }
  int Navigate2(const char *url);
  // Events are routed only from documents inside this folder.
  void SetLocalFolder(const std::string &folder) { m_localFolder = folder; }
  const std::string &LocalFolder() const { return m_localFolder; }
  int DocumentIsLocal() const;

  // The derived view's map, ended by an END entry; none here.
  virtual const DHtmlEventMapEntry *GetDHtmlEventMap() { return nullptr; }
  virtual int PreTranslateMessage(const HTML_INPUT_MSG *msg) { return dhtml_key_filter(msg); }
  virtual void OnBeforeNavigate2(const char *url);
  virtual void OnNavigateComplete2(const char *url);
  virtual void OnDocumentComplete(const char *url);
  virtual void OnDestroy();
  // The view window's messages other than those above; 0 when unhandled.
  virtual LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam);

  // The document's event for element: its handler's result, S_FALSE when
  // no entry takes it (the default action then happens as usual).
  HRESULT RouteEvent(const HTML_EVENT_SNAPSHOT *element);

 protected:
  // The page's "checked" state of a check box: S_OK with *checked, or a
  // failure for an element that has none.
  static HRESULT GetElementChecked(const HTML_EVENT_SNAPSHOT *element, int *checked);

  HWND m_hWnd = nullptr;
  HTML_VIEW *m_page = nullptr;
  bool m_document = false;  // between a navigation's completion and the next start

 private:
  static LRESULT view_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  int capture_map();
  std::string m_localFolder;
};
