// Script runs in the tool's page.
#include "page_script_host.h"

#include "dhtml_view.h"

#include <tarvo_platform/clock.h>

int CPageScriptHost::attach_document(HTML_VIEW *view, const std::string &local_folder)
{
  std::lock_guard<std::recursive_mutex> g(m_lock);
  m_view = view;
  m_folder = local_folder;
  return view != nullptr;
}

void CPageScriptHost::detach_document()
{
  std::lock_guard<std::recursive_mutex> g(m_lock);
  m_view = nullptr;
}

bool CPageScriptHost::ready()
{
  return m_view && HtmlViewHasDocument(m_view) && dhtml_uri_is_local(HtmlViewUri(m_view), m_folder);
}

HRESULT CPageScriptHost::run_page_script(const std::string &script)
{
  std::lock_guard<std::recursive_mutex> g(m_lock);
  if (!ready()) return PAGE_SCRIPT_NO_DOCUMENT;
  HRESULT hr = E_FAIL;
  for (int i = 0; i < PAGE_SCRIPT_TRIES; ++i) {
    hr = HtmlViewExecScript(m_view, script.c_str(), nullptr);
    // E_ABORT: the page's process or the view itself is gone; no try can help.
    if (SUCCEEDED(hr) || hr == E_ABORT) break;
    platform_sleep_ms(PAGE_SCRIPT_RETRY_MS);
  }
  return hr;
}

HRESULT CPageScriptHost::refresh_share_list()
{
  std::lock_guard<std::recursive_mutex> g(m_lock);
  if (!ready()) return PAGE_SCRIPT_NO_DOCUMENT;
  return HtmlViewExecScript(m_view, "tollamy_page_share_get_share_list(true)", nullptr);
}
