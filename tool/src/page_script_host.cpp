// Script runs in the tool's page.
#include "page_script_host.h"

#include "dhtml_view.h"

#include <tarvo_platform/clock.h>

int CPageScriptHost::attach_document(HTML_VIEW *view, const std::string &local_folder)
{
  std::lock_guard<std::mutex> g(m_lock);
  m_view = view;
  m_folder = local_folder;
  return view != nullptr;
}

void CPageScriptHost::detach_document()
{
  std::lock_guard<std::mutex> g(m_lock);
  m_view = nullptr;
}

HTML_VIEW *CPageScriptHost::ready_view()
{
  std::lock_guard<std::mutex> g(m_lock);
  return m_view && HtmlViewHasDocument(m_view) && dhtml_uri_is_local(HtmlViewUri(m_view), m_folder) ? m_view : nullptr;
}

// The view is taken afresh for each try: a run's wait runs other handlers,
// which may detach the document meanwhile.
HRESULT CPageScriptHost::run_page_script(const std::string &script)
{
  HTML_VIEW *view = ready_view();
  if (!view) return PAGE_SCRIPT_NO_DOCUMENT;
  HRESULT hr = E_FAIL;
  for (int i = 0; i < PAGE_SCRIPT_TRIES && view; ++i) {
    hr = HtmlViewExecScript(view, script.c_str(), nullptr);
    // E_ABORT: the page's process or the view itself is gone; no try can help.
    if (SUCCEEDED(hr) || hr == E_ABORT) break;
    platform_sleep_ms(PAGE_SCRIPT_RETRY_MS);
    view = ready_view();
  }
  return hr;
}

HRESULT CPageScriptHost::refresh_share_list()
{
  HTML_VIEW *view = ready_view();
  if (!view) return PAGE_SCRIPT_NO_DOCUMENT;
  return HtmlViewExecScript(view, "tollamy_page_share_get_share_list(true)", nullptr);
}
