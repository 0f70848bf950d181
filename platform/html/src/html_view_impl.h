// What the two halves of the HTML view share: the view record, the
// capture list, and the web backend's calls (stubs without WebKit).
#pragma once

#include <tarvo_html/html_view.h>

#include <string>
#include <vector>

struct html_web;  // the web backend's part of a view

struct html_capture_entry {
  int kind;
  std::string event, name;
};

struct HTML_VIEW {
  HWND owner = nullptr;
  HTML_VIEW_CALLBACKS cb{};
  void *user = nullptr;
  std::string uri;
  bool has_document = false;
  std::vector<html_capture_entry> capture;
  html_web *web = nullptr;  // nullptr: the record backend
  unsigned pending_loads = 0;  // record backend: navigations not yet completed
};

// 1 when the snapshot's element is one that view captures for its event.
int html_capture_matches(const HTML_VIEW *view, const HTML_EVENT_SNAPSHOT *s);
// The phases, called by either backend.
void html_phase_before(HTML_VIEW *view, const char *uri);
void html_phase_committed(HTML_VIEW *view, const char *uri);
void html_phase_finished(HTML_VIEW *view);
// An alert the page opened (web backend) or closed.
void html_alert_opened(const char *text);
void html_alert_closed();

// The web backend.  web_init: 1 when it can make views in this process.
int html_web_init();
html_web *html_web_create(HTML_VIEW *view, void *parent);
void html_web_destroy(html_web *web);
void *html_web_widget(html_web *web);
void html_web_set_capture(html_web *web, const std::vector<html_capture_entry> &capture);
int html_web_navigate(html_web *web, const char *uri);
HRESULT html_web_exec(html_web *web, const char *script, char **result);
HRESULT html_web_click(html_web *web, const char *element_id);
int html_web_close_alert();
