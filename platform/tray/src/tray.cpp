// The notification-area icon: the operations shared by every backend, the
// record-only backend and the automation requests.
#include "tray_impl.h"

#include <tarvo_ui/ui_automation.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

icon_rec *find_icon(HWND hwnd, UINT id)
{
  for (icon_rec &i : tray_icons())
    if (i.hwnd == hwnd && i.id == id) return &i;
  return nullptr;
}

const tray_backend record_backend = {
    "record", [](icon_rec *) {}, [](icon_rec *) {}, [](icon_rec *) {}, [](icon_rec *) { return 1; },
};

const tray_backend *chosen()
{
  static const tray_backend *b = [] {
    const char *want = std::getenv("TARVO_TRAY_BACKEND");
    if (want && std::strcmp(want, "record") == 0) return &record_backend;
    const tray_backend *ui = tray_desktop_backend(want);
    return ui ? ui : &record_backend;
  }();
  return b;
}

std::string base_name(const std::string &p) { return p.substr(p.rfind('/') + 1); }

void emit_menu(UI_AUTOMATION_EMIT emit, void *ctx)
{
  for (const TRAY_MENU_ITEM &m : tracked_menu()) {
    std::string line = "menu " + std::to_string(m.id) + " " + (m.grayed ? "1" : "0") + " " +
                       (m.is_default ? "1" : "0") + " " + (m.text ? m.text : "");
    emit(ctx, line.c_str());
  }
}

int cmd_tray(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *, uint32_t)
{
  std::string b = std::string("backend ") + chosen()->name;
  emit(ctx, b.c_str());
  for (const icon_rec &i : tray_icons()) {
    std::string line = "icon " + std::to_string(i.id) + " " + (i.icon.empty() ? "-" : base_name(i.icon)) + " " + i.tip;
    emit(ctx, line.c_str());
  }
  emit_menu(emit, ctx);
  return 1;
}

int cmd_tray_event(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  auto fail = [&](const char *why) {
    std::snprintf(error, size, "%s", why);
    return 0;
  };
  if (argc != 2) return fail("usage: tray-event rbuttonup|lbuttondblclk|restart");
  if (std::strcmp(argv[1], "restart") == 0) {  // a new panel knows no icons
    for (icon_rec &i : tray_icons()) chosen()->remove(&i);
    tray_icons().clear();
    tray_shell_restarted();
    return 1;
  }
  LPARAM ev = std::strcmp(argv[1], "rbuttonup") == 0       ? WM_RBUTTONUP
              : std::strcmp(argv[1], "lbuttondblclk") == 0 ? WM_LBUTTONDBLCLK
                                                           : 0;
  if (!ev) return fail("unknown event");
  if (tray_icons().empty()) return fail("no icon");
  tray_click(&tray_icons().front(), ev);
  return 1;
}

}  // namespace

std::vector<icon_rec> &tray_icons()
{
  static std::vector<icon_rec> *v = new std::vector<icon_rec>;
  return *v;
}

std::vector<TRAY_MENU_ITEM> &tracked_menu()
{
  static std::vector<TRAY_MENU_ITEM> *v = new std::vector<TRAY_MENU_ITEM>;
  return *v;
}

std::vector<menu_source> &menu_sources()
{
  static std::vector<menu_source> *v = new std::vector<menu_source>;
  return *v;
}

std::string tray_mnemonic(const char *text)
{
  std::string out;
  for (const char *p = text ? text : ""; *p; ++p) {
    if (*p == '&' && p[1] == '&') {
      out += '&';
      ++p;
    } else if (*p == '&') out += '_';
    else if (*p == '_') out += "__";
    else out += *p;
  }
  return out;
}

void tray_click(const icon_rec *i, LPARAM event)
{
  if (i->callback) PostMessage(i->hwnd, i->callback, i->id, event);
}

void tray_shell_restarted()
{
  UINT msg = RegisterWindowMessage("TaskbarCreated");
  HWND handles[256];
  uint32_t n = EnumWindowHandles(handles, 256);
  for (uint32_t k = 0; k < n && k < 256; ++k) PostMessage(handles[k], msg, 0, 0);
}

uint32_t tray_menu_items(HWND owner, UINT id, TRAY_MENU_ITEM *items, uint32_t max)
{
  for (const menu_source &s : menu_sources())
    if (s.owner == owner && s.id == id) return s.fn(owner, items, max);
  return 0;
}

extern "C" {

void TrayCutTip(const char *text, char *out)
{
  size_t at = 0, chars = 0;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text ? text : "");
  while (s[at] && chars < TRAY_TIP_CHARS) {
    size_t n = s[at] < 0x80 ? 1 : (s[at] & 0xE0) == 0xC0 ? 2 : (s[at] & 0xF0) == 0xE0 ? 3 : (s[at] & 0xF8) == 0xF0 ? 4 : 1;
    size_t k = 1;
    while (k < n && (s[at + k] & 0xC0) == 0x80) ++k;
    if (k < n) break;  // a character cut short by the end of the text
    at += n;
    ++chars;
  }
  std::memcpy(out, text ? text : "", at);
  out[at] = '\0';
}

int TrayNotifyIcon(UINT op, const TRAY_ICON_DATA *d)
{
  if (!d || !IsWindow(d->hwnd)) return 0;
  const tray_backend *b = chosen();
  icon_rec *i = find_icon(d->hwnd, d->id);
  if (op == TRAY_DELETE) {
    if (!i) return 0;
    b->remove(i);
    tray_icons().erase(tray_icons().begin() + (i - tray_icons().data()));
    return 1;
  }
  if (op == TRAY_MODIFY && !i) return 0;
  if (op == TRAY_ADD && i) op = TRAY_MODIFY;  // a host that kept it across its restart
  if (!i) {
    tray_icons().emplace_back();
    i = &tray_icons().back();
    i->hwnd = d->hwnd;
    i->id = d->id;
  }
  if (d->flags & TRAY_FLAG_MESSAGE) i->callback = d->callback_message;
  if (d->flags & TRAY_FLAG_ICON) i->icon = d->icon_path ? d->icon_path : "";
  if (d->flags & TRAY_FLAG_TIP) {
    char tip[TRAY_TIP_SIZE];
    TrayCutTip(d->tip, tip);
    i->tip = tip;
  }
  if (op == TRAY_ADD) b->add(i);
  else b->modify(i);
  return 1;
}

int TraySetMenuSource(HWND owner, UINT id, TRAY_MENU_FN fn)
{
  for (menu_source &s : menu_sources())
    if (s.owner == owner && s.id == id) {
      s.fn = fn;
      return 1;
    }
  menu_sources().push_back({owner, id, fn});
  if (icon_rec *i = find_icon(owner, id)) chosen()->modify(i);
  return 1;
}

int TrayTrackMenu(HWND owner, UINT id)
{
  icon_rec *i = find_icon(owner, id);
  TRAY_MENU_ITEM items[TRAY_MENU_MAX];
  uint32_t n = tray_menu_items(owner, id, items, TRAY_MENU_MAX);
  if (!i || n == 0) return 0;
  tracked_menu().assign(items, items + (n < TRAY_MENU_MAX ? n : TRAY_MENU_MAX));
  return chosen()->track(i);
}

const char *TrayBackendName(void) { return chosen()->name; }

void TrayAutomationInit(void)
{
  UiAutomationAddCommand("tray", cmd_tray);
  UiAutomationAddCommand("tray-event", cmd_tray_event);
}
}
