// The object through which the tool runs script text in its page: one run
// at a time, up to three tries, and nothing at all while the page shown is
// not the tool's own local page.
#pragma once

#include <tarvo_com/com.h>
#include <tarvo_html/html_view.h>

#include <mutex>
#include <string>

// Tries of one script run, and the program time slept after each failed one.
constexpr int PAGE_SCRIPT_TRIES = 3;
constexpr unsigned PAGE_SCRIPT_RETRY_MS = 100;
// The result of a run without a document.
constexpr HRESULT PAGE_SCRIPT_NO_DOCUMENT = -1;

class CPageScriptHost {
 public:
  // Holds view's document for the runs; scripts run only while the page
  // shown lies inside local_folder.  1 when view is not NULL.
  int attach_document(HTML_VIEW *view, const std::string &local_folder);
  void detach_document();
  // The last try's result; PAGE_SCRIPT_NO_DOCUMENT at once without a
  // document (or with a page from elsewhere).
  HRESULT run_page_script(const std::string &script);
  // "tollamy_page_share_get_share_list(true)", once.
  HRESULT refresh_share_list();

 private:
  // The attached view while it shows the local page, else NULL.  The lock
  // is never held across a run: its wait runs other handlers.
  HTML_VIEW *ready_view();
  std::mutex m_lock;
  HTML_VIEW *m_view = nullptr;
  std::string m_folder;
};
