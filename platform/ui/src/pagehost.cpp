// pagehost LIBRARY FILTER-CLSID: shows the property pages of a filter in a
// frame with Apply and Close.  LIBRARY is a path, or a name as LoadLibrary
// takes it ("mirrow" is libmirrow.so beside this program); the pages come
// from the same library's class factory, else from the class table.  Each
// Apply writes "<page title>: Apply 0x<result>" on standard output, as the
// frame has no other place for a page's failure.
#include <tarvo_com/com.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_controls.h>
#include <tarvo_ui/ui_gdi.h>
#include <tarvo_ui/ui_resource.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kApplyId = 0x3021;  // the property frame's Apply button
constexpr UINT kCloseId = 8;
// The button row in dialog units.
constexpr int kButtonCx = 50, kButtonCy = 14, kRowCy = 22, kGap = 4;

struct hosted_page {
  IPropertyPage *page = nullptr;
  std::string title;
  int cx = 0, cy = 0;
  HWND container = nullptr;
};

struct host {
  HWND frame = nullptr, buttons = nullptr;
  std::vector<hosted_page> pages;
  GtkWidget *scroller = nullptr, *pages_box = nullptr;
  int row_cy = 0;  // the button row's height: the least a scrolled page keeps
} g_host;

// The host's site for every page: nothing to report beyond the page's own
// dirty flag, which Apply asks for.
class PageSite final : public IPropertyPageSite {
 public:
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyPageSite) {
      *ppv = static_cast<IPropertyPageSite *>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }  // lives as long as the program
  ULONG Release() override { return 1; }
  HRESULT OnStatusChange(DWORD) override { return S_OK; }
  HRESULT GetLocaleID(LCID *locale) override
  {
    if (!locale) return E_POINTER;
    *locale = UiLanguageIsJapanese() ? 0x0411 : 0x0409;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown **container) override
  {
    if (container) *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(MSG *) override { return S_FALSE; }
} g_site;

// "{8-4-4-4-12}" hex digits, the braces optional.
bool parse_clsid(const char *text, CLSID *out)
{
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  std::string digits;
  for (size_t i = 0; i < s.size(); ++i)
    if (i != 8 && i != 13 && i != 18 && i != 23) digits += s[i];
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) {
    int hi = g_ascii_xdigit_value(digits[size_t(2 * i)]), lo = g_ascii_xdigit_value(digits[size_t(2 * i + 1)]);
    if (hi < 0 || lo < 0) return false;
    b[i] = uint8_t(hi << 4 | lo);
  }
  out->Data1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  out->Data2 = uint16_t(b[4] << 8 | b[5]);
  out->Data3 = uint16_t(b[6] << 8 | b[7]);
  std::memcpy(out->Data4, b + 8, 8);
  return true;
}

HRESULT create(LPFNGETCLASSOBJECT get, REFCLSID clsid, REFIID riid, void **ppv)
{
  IClassFactory *cf = nullptr;
  HRESULT hr = get ? get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&cf)) : CLASS_E_CLASSNOTAVAILABLE;
  if (FAILED(hr)) return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
  hr = cf->CreateInstance(nullptr, riid, ppv);
  cf->Release();
  return hr;
}

std::string utf8_of(const WCHAR *w)
{
  if (!w) return "";
  glong n = 0;
  while (w[n]) ++n;
  gchar *s = g_utf16_to_utf8(reinterpret_cast<const gunichar2 *>(w), n, nullptr, nullptr, nullptr);
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

void apply_all()
{
  // As a click would: the focus leaves the page's control first, which
  // tells the page of the edit.
  if (GtkWidget *b = UiGtkControlWidget(g_host.buttons, kApplyId)) gtk_widget_grab_focus(b);
  for (hosted_page &p : g_host.pages) {
    HRESULT hr = p.page->Apply();
    std::printf("%s: Apply 0x%08X\n", p.title.c_str(), unsigned(hr));
    std::fflush(stdout);
  }
}

LRESULT buttons_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  if (msg != WM_COMMAND || UI_HIWORD(w) != BN_CLICKED) return 0;
  if (UI_LOWORD(w) == kApplyId) apply_all();
  if (UI_LOWORD(w) == kCloseId || UI_LOWORD(w) == IDCANCEL) PostMessage(g_host.frame, WM_CLOSE, 0, 0);
  return 1;
}

// The pages' dialogs and the button row go before the frame that holds them.
void close_pages()
{
  for (hosted_page &p : g_host.pages) {
    if (p.page) p.page->Deactivate();
    if (p.container) DestroyWindow(p.container);
    p.container = nullptr;
  }
  if (g_host.buttons) DestroyWindow(g_host.buttons);
  g_host.buttons = nullptr;
}

LRESULT frame_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  switch (msg) {
    case WM_SYSCOMMAND:
      if (w == UI_FRAME_ABOUT_ID) MessageBox(g_host.frame, "Property page host", "pagehost", MB_OK);
      return 1;
    case WM_CLOSE: close_pages(); return 0;  // then the frame goes
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return 0;
  }
}

// The row of Apply and Close at the right end, as wide as the pages.
HWND make_buttons(int width_px)
{
  static UI_DIALOG_ITEM items[2];
  static UI_DIALOG_TEMPLATE tmpl;
  // Pixels to dialog units in the font the row is laid out in (text size
  // included), so that the row is as wide as the pages and no wider.
  UI_DIALOG_TEMPLATE hundred = {0, "", 100, 0, nullptr, 0};
  int px100 = 0;
  UiDialogUnitsToPixels(&hundred, &px100, nullptr);
  int cx = std::max(2 * (kButtonCx + kGap) + kGap, width_px * 100 / std::max(1, px100));
  bool ja = UiLanguageIsJapanese();
  items[0] = {UI_CTL_BUTTON, kApplyId, cx - 2 * (kButtonCx + kGap), kGap, kButtonCx, kButtonCy,
              ja ? "適用(&A)" : "&Apply", 0};
  items[1] = {UI_CTL_BUTTON, kCloseId, cx - (kButtonCx + kGap), kGap, kButtonCx, kButtonCy,
              ja ? "閉じる(&C)" : "&Close", 0};
  tmpl = {0, "", cx, kRowCy, items, 2};
  return UiCreateChildDialog(g_host.frame, &tmpl, buttons_proc, nullptr);
}

// A widget's size as laid out (a page's dialog box: what its controls need).
void natural_size(GtkWidget *w, int *cx, int *cy)
{
  GtkRequisition need;
  gtk_widget_get_preferred_size(w, nullptr, &need);
  *cx = need.width, *cy = need.height;
}

// The scrolled page's height, its bounds changed in an order that keeps
// the least below the most.
void set_page_height(GtkScrolledWindow *sw, int cy)
{
  if (cy < gtk_scrolled_window_get_min_content_height(sw)) {
    gtk_scrolled_window_set_min_content_height(sw, cy);
    gtk_scrolled_window_set_max_content_height(sw, cy);
  } else {
    gtk_scrolled_window_set_max_content_height(sw, cy);
    gtk_scrolled_window_set_min_content_height(sw, cy);
  }
}

// The scrolled page as tall as the page, or as the work area leaves when
// the frame would be taller: the frame's height as shown (the window
// manager's frame counted once it is known), less that of the work area.
void fit_height(int frame_cy, int work_cy)
{
  auto *sw = GTK_SCROLLED_WINDOW(g_host.scroller);
  int now = gtk_scrolled_window_get_min_content_height(sw), cx = 0, cy = 0;
  natural_size(g_host.pages_box, &cx, &cy);
  int want = std::max(std::min(cy, g_host.row_cy), std::min(cy, now + work_cy - frame_cy));
  if (want != now) set_page_height(sw, want);
}

// The frame's content takes its largest page and the button row, as the
// pages' real fonts laid them out (their page info gives the template's
// size in the theme's font, which is not theirs); a page taller than the
// work area leaves scrolls.  Before it is shown the frame's height is what
// it asks for; once shown, refit_shown takes it as it is.
void fit_frame(GtkWidget *content, GtkWidget *scroller, GtkWidget *pages)
{
  int cx = 0, cy = 0, row_cx = 0;
  gtk_widget_show_all(pages);  // a hidden box counts for nothing; the pages' own hidden controls stay so
  natural_size(pages, &cx, &cy);
  g_host.buttons = make_buttons(cx);
  if (GtkWidget *row = UiGtkWidget(g_host.buttons)) natural_size(row, &row_cx, &g_host.row_cy);
  g_host.scroller = scroller, g_host.pages_box = pages;
  set_page_height(GTK_SCROLLED_WINDOW(scroller), cy);
  gtk_widget_set_size_request(content, std::max(cx, row_cx), -1);
  GtkWidget *top = gtk_widget_get_toplevel(content);
  if (GtkWidget *bar = GTK_IS_WINDOW(top) ? gtk_window_get_titlebar(GTK_WINDOW(top)) : nullptr)
    gtk_widget_show_all(bar);  // measured as shown
  GdkMonitor *m = gdk_display_get_primary_monitor(gdk_display_get_default());
  if (!m) m = gdk_display_get_monitor(gdk_display_get_default(), 0);
  int top_cx = 0, top_cy = 0;
  natural_size(top, &top_cx, &top_cy);
  GdkRectangle work{0, 0, top_cx, top_cy};
  if (m) gdk_monitor_get_workarea(m, &work);
  fit_height(top_cy, work.height);
  UiWindowPlace(g_host.frame);
}

// Shown, the frame's height as the user sees it (header bar, edges and
// any frame of the window manager) is known: the scrolled page takes what
// the work area leaves, up to all the page.  Done in the event itself, the
// frame's extents asked of the display then, so that the window is never
// taken as placed with a new size still to come; the window layer centres
// the new size.
gboolean refit_shown(GtkWidget *top, GdkEvent *, gpointer)
{
  GdkWindow *gw = gtk_widget_get_window(top);
  if (!gw || !gtk_widget_get_mapped(top) || !g_host.scroller) return FALSE;
  GdkRectangle f, work;
  gdk_window_get_frame_extents(gw, &f);
  gdk_monitor_get_workarea(gdk_display_get_monitor_at_window(gdk_window_get_display(gw), gw), &work);
  fit_height(f.height, work.height);
  return FALSE;
}

gboolean on_frame_property(GtkWidget *top, GdkEventProperty *e, gpointer)
{
  return e->atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS") && refit_shown(top, nullptr, nullptr);
}

void watch_frame(GtkWidget *top)
{
  g_signal_connect(top, "map-event", G_CALLBACK(refit_shown), nullptr);
  g_signal_connect(top, "configure-event", G_CALLBACK(refit_shown), nullptr);
  g_signal_connect(top, "property-notify-event", G_CALLBACK(on_frame_property), nullptr);
}

int fail(const char *what, const char *detail)
{
  std::fprintf(stderr, "pagehost: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return 1;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: pagehost LIBRARY FILTER-CLSID\n");
    return 2;
  }
  CLSID filter_clsid;
  if (!parse_clsid(argv[2], &filter_clsid)) return fail("not a class id", argv[2]);
  if (!UiGtkInit(&argc, &argv)) return fail("no display", nullptr);
  // Before the pages: a page's own message box is reached too.
  if (!UiAutomationStart()) return fail("the automation socket cannot be opened", std::getenv("TARVO_UI_AUTOMATION"));
  CoInitialize(nullptr);
  HMODULE lib = LoadLibrary(argv[1]);
  if (!lib) return fail("the library does not load", argv[1]);
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(lib, "DllGetClassObject"));
  if (!get) return fail("not a filter library", argv[1]);

  IUnknown *filter = nullptr;
  if (FAILED(create(get, filter_clsid, IID_IUnknown, reinterpret_cast<void **>(&filter))))
    return fail("the filter cannot be made", argv[2]);
  ISpecifyPropertyPages *spp = nullptr;
  CAUUID ids{};
  if (FAILED(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void **>(&spp))))
    return fail("the filter names no property pages", nullptr);
  HRESULT hr = spp->GetPages(&ids);
  spp->Release();
  if (FAILED(hr)) return fail("the filter names no property pages", nullptr);
  for (ULONG i = 0; i < ids.cElems; ++i) {
    hosted_page p;
    if (FAILED(create(get, ids.pElems[i], IID_IPropertyPage, reinterpret_cast<void **>(&p.page)))) {
      fail("a page cannot be made", nullptr);
      continue;
    }
    p.page->SetPageSite(&g_site);
    IUnknown *objs[] = {filter};
    PROPPAGEINFO info{};
    if (FAILED(p.page->SetObjects(1, objs)) || FAILED(p.page->GetPageInfo(&info))) {
      fail("a page does not take the filter", nullptr);
      p.page->SetPageSite(nullptr);
      p.page->Release();
      continue;
    }
    p.title = utf8_of(info.pszTitle);
    p.cx = int(info.size.cx);
    p.cy = int(info.size.cy);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
    g_host.pages.push_back(p);
  }
  CoTaskMemFree(ids.pElems);
  if (g_host.pages.empty()) return fail("no page to show", nullptr);

  int cx = 0, cy = 0;
  for (const hosted_page &p : g_host.pages) cx = std::max(cx, p.cx), cy = std::max(cy, p.cy);
  g_host.frame = UiFrameCreate("TarvoPageHost", g_host.pages[0].title.c_str(), cx, cy, "_About", frame_proc, nullptr);
  if (!g_host.frame) return fail("no frame", nullptr);
  // Each page in a box of its own: one page fills the frame, several get tabs.
  GtkWidget *content = UiFrameContent(g_host.frame);
  GtkWidget *tabs = g_host.pages.size() > 1 ? gtk_notebook_new() : nullptr;
  GtkWidget *pages = tabs ? tabs : gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget *scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
  gtk_container_add(GTK_CONTAINER(scroller), pages);
  gtk_container_add(GTK_CONTAINER(content), scroller);
  for (hosted_page &p : g_host.pages) {
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    if (tabs) gtk_notebook_append_page(GTK_NOTEBOOK(tabs), box, gtk_label_new(p.title.c_str()));
    else gtk_box_pack_start(GTK_BOX(pages), box, FALSE, FALSE, 0);
    p.container = CreateMessageWindow("TarvoPageHostPage", p.title.c_str(), nullptr, nullptr);
    UiGtkRegisterWindow(p.container, box);
    RECT r{0, 0, p.cx, p.cy};
    if (FAILED(p.page->Activate(p.container, &r, FALSE))) fail("a page cannot be shown", p.title.c_str());
  }
  fit_frame(content, scroller, pages);
  watch_frame(gtk_widget_get_toplevel(content));
  UiWindowShow(g_host.frame);
  UiWindowPresent(g_host.frame);
  MessageLoop();

  for (hosted_page &p : g_host.pages) {
    p.page->SetObjects(0, nullptr);
    p.page->SetPageSite(nullptr);
    p.page->Release();
  }
  filter->Release();
  UiAutomationStop();
  CoUninitialize();
  return 0;
}
