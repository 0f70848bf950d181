// The base of property pages: IPropertyPage over a dialog template placed
// inside the host's window.  A page overrides the On* operations; the
// dialog's messages reach OnReceiveMessage (WM_INITDIALOG first).
#pragma once

#include <tarvo_com/com.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_ui/ui_controls.h>

#define SW_HIDE 0u
#define SW_SHOW 5u

class UiPropertyPage : public IPropertyPage {
 public:
  // title_id: the page title's string (LoadString), unless title is given.
  UiPropertyPage(const UI_DIALOG_TEMPLATE *tmpl, UINT title_id, const char *title = nullptr);

  HRESULT QueryInterface(REFIID riid, void **ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT SetPageSite(IPropertyPageSite *site) override;
  HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  HRESULT Deactivate() override;
  // The title, the dialog's size in pixels; no help file.
  HRESULT GetPageInfo(PROPPAGEINFO *info) override;
  // 0 objects disconnects; 1 connects; more is E_UNEXPECTED.
  HRESULT SetObjects(ULONG count, IUnknown **objects) override;
  HRESULT Show(UINT cmdShow) override;
  HRESULT Move(LPCRECT rect) override;
  HRESULT IsPageDirty() override;  // S_OK when changed, else S_FALSE
  // Nothing to do when clean; the page stays changed when OnApplyChanges fails.
  HRESULT Apply() override;
  HRESULT Help(LPCOLESTR helpDir) override;
  HRESULT TranslateAccelerator(MSG *msg) override;

  HWND Window() const { return m_hwnd; }

 protected:
  virtual ~UiPropertyPage();
  virtual HRESULT OnConnect(IUnknown *) { return S_OK; }
  virtual HRESULT OnDisconnect() { return S_OK; }
  virtual HRESULT OnActivate() { return S_OK; }
  virtual HRESULT OnDeactivate() { return S_OK; }
  virtual HRESULT OnApplyChanges() { return S_OK; }
  virtual LRESULT OnReceiveMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }
  // Marks the page changed and tells the site.
  void SetDirty();

  HWND m_hwnd = nullptr;
  IPropertyPageSite *m_site = nullptr;
  bool m_dirty = false;
  bool m_objects_set = false;

 private:
  static LRESULT DialogProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
  const UI_DIALOG_TEMPLATE *m_tmpl;
  UINT m_title_id;
  const char *m_title;
  ULONG m_refs = 1;
};
