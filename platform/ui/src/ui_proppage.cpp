// The property-page base over a child dialog.
#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_resource.h>

#include <glib.h>

#include <cstring>

UiPropertyPage::UiPropertyPage(const UI_DIALOG_TEMPLATE *tmpl, UINT title_id, const char *title)
    : m_tmpl(tmpl), m_title_id(title_id), m_title(title)
{
}

UiPropertyPage::~UiPropertyPage()
{
  if (m_hwnd) DestroyWindow(m_hwnd);
  if (m_site) m_site->Release();
}

HRESULT UiPropertyPage::QueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPropertyPage) {
    *ppv = static_cast<IPropertyPage *>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG UiPropertyPage::AddRef() { return ++m_refs; }

ULONG UiPropertyPage::Release()
{
  ULONG n = --m_refs;
  if (n == 0) delete this;
  return n;
}

HRESULT UiPropertyPage::SetPageSite(IPropertyPageSite *site)
{
  if (site) {
    if (m_site) return E_UNEXPECTED;
    m_site = site;
    site->AddRef();
  } else {
    if (!m_site) return E_UNEXPECTED;
    m_site->Release();
    m_site = nullptr;
  }
  return S_OK;
}

LRESULT UiPropertyPage::DialogProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
  auto *page = static_cast<UiPropertyPage *>(GetWindowUserData(window));
  if (!page) return 0;
  if (msg == WM_INITDIALOG) page->m_hwnd = window;
  LRESULT r = page->OnReceiveMessage(window, msg, wparam, lparam);
  if (msg == WM_NCDESTROY && page->m_hwnd == window) page->m_hwnd = nullptr;
  return r;
}

HRESULT UiPropertyPage::Activate(HWND parent, LPCRECT, BOOL)
{
  if (m_hwnd) return E_UNEXPECTED;
  HWND h = UiCreateChildDialog(parent, m_tmpl, DialogProc, this);
  if (!h) return E_OUTOFMEMORY;
  m_hwnd = h;
  HRESULT hr = OnActivate();
  if (FAILED(hr)) {
    DestroyWindow(h);
    m_hwnd = nullptr;
  }
  return hr;
}

HRESULT UiPropertyPage::Deactivate()
{
  if (!m_hwnd) return E_UNEXPECTED;
  HRESULT hr = OnDeactivate();
  if (FAILED(hr)) return hr;
  DestroyWindow(m_hwnd);
  m_hwnd = nullptr;
  return S_OK;
}

HRESULT UiPropertyPage::GetPageInfo(PROPPAGEINFO *info)
{
  if (!info) return E_POINTER;
  char title[256] = "";
  if (m_title) g_strlcpy(title, m_title, sizeof title);
  else LoadString(m_title_id, title, sizeof title);
  glong units = 0;
  gunichar2 *wide = g_utf8_to_utf16(title, -1, nullptr, &units, nullptr);
  auto *out = static_cast<WCHAR *>(CoTaskMemAlloc(size_t(units + 1) * sizeof(WCHAR)));
  if (!out) {
    g_free(wide);
    return E_OUTOFMEMORY;
  }
  if (wide) std::memcpy(out, wide, size_t(units) * sizeof(WCHAR));
  out[wide ? units : 0] = 0;
  g_free(wide);
  int cx = 0, cy = 0;
  UiDialogUnitsToPixels(m_tmpl, &cx, &cy);
  info->cb = sizeof *info;
  info->pszTitle = out;
  info->size = SIZE{cx, cy};
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;  // no help files on this platform
  info->dwHelpContext = 0;
  return S_OK;
}

HRESULT UiPropertyPage::SetObjects(ULONG count, IUnknown **objects)
{
  if (count == 1) {
    if (!objects || !objects[0]) return E_POINTER;
    m_objects_set = true;
    return OnConnect(objects[0]);
  }
  if (count == 0) {
    m_objects_set = false;
    return OnDisconnect();
  }
  return E_UNEXPECTED;
}

HRESULT UiPropertyPage::Show(UINT cmdShow)
{
  if (!m_hwnd) return E_UNEXPECTED;
  return UiShowChildDialog(m_hwnd, cmdShow != SW_HIDE) ? S_OK : E_UNEXPECTED;
}

HRESULT UiPropertyPage::Move(LPCRECT rect)
{
  if (!rect) return E_POINTER;
  return m_hwnd ? S_OK : E_UNEXPECTED;  // the host's layout places the page
}

HRESULT UiPropertyPage::IsPageDirty() { return m_dirty ? S_OK : S_FALSE; }

HRESULT UiPropertyPage::Apply()
{
  if (!m_objects_set) return E_UNEXPECTED;
  if (!m_dirty) return S_OK;
  HRESULT hr = OnApplyChanges();
  if (SUCCEEDED(hr)) m_dirty = false;
  return hr;
}

HRESULT UiPropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }
HRESULT UiPropertyPage::TranslateAccelerator(MSG *) { return S_FALSE; }

void UiPropertyPage::SetDirty()
{
  m_dirty = true;
  if (m_site) m_site->OnStatusChange(PROPPAGESTATUS_DIRTY);
}
