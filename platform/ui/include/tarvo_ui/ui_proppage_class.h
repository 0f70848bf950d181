// Property pages made by a filter library's class factory.  The factory
// templates make CUnknown objects, while a page counts its own references:
// the holder hands out the page's interfaces and goes with its last
// reference, leaving the caller the page's.  A page that also derives from
// CBaseObject keeps its library loaded while it lives.
#pragma once

#include <tarvo_dshow/base_unknown.h>
#include <tarvo_ui/ui_proppage.h>

#include <new>

class UiPropertyPageHolder final : public CUnknown {
 public:
  explicit UiPropertyPageHolder(IPropertyPage *page) : CUnknown("PropertyPageHolder", nullptr), m_page(page) {}
  ~UiPropertyPageHolder() override { m_page->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override { return m_page->QueryInterface(riid, ppv); }

 private:
  IPropertyPage *m_page;
};

// The factory template's creation function for Page (constructed without
// arguments, with one reference): aggregation is refused.
template <class Page>
CUnknown *UiPropertyPageCreate(LPUNKNOWN outer, HRESULT *phr)
{
  if (outer) {
    *phr = CLASS_E_NOAGGREGATION;
    return nullptr;
  }
  auto *page = new (std::nothrow) Page;
  if (!page) {
    *phr = E_OUTOFMEMORY;
    return nullptr;
  }
  auto *holder = new (std::nothrow) UiPropertyPageHolder(page);
  if (!holder) {
    page->Release();
    *phr = E_OUTOFMEMORY;
  }
  return holder;
}
