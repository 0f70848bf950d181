// The page view in the application's frame: CHaldor2View behind the
// frame's view interface.
#include "haldor_app.h"
#include "haldor_view.h"

namespace {

class CHtmlViewHost : public CHaldorViewHost {
 public:
  int Create(HWND, GtkWidget *content) override
  {
    CHaldor2View::SetInitialPage(CHaldor2App::Instance()->InitialPage());
    m_view = new CHaldor2View;
    return m_view->Create(content);  // which loads the page
  }
  HWND Window() override { return m_view ? m_view->GetSafeHwnd() : nullptr; }
  void Destroy() override
  {
    if (!m_view) return;
    m_view->DestroyView();
    delete m_view;
    m_view = nullptr;
  }
  void SharesChanged() override
  {
    if (m_view) m_view->refresh_share_list();
  }
  ~CHtmlViewHost() override { Destroy(); }

 private:
  CHaldor2View *m_view = nullptr;
};

// Registered before main runs.
struct register_view {
  register_view()
  {
    haldor_view_factory = []() -> CHaldorViewHost * { return new CHtmlViewHost; };
  }
} registration;

}  // namespace
