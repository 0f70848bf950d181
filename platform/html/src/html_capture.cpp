// The capture script injected into every top-level document, in a script
// world of its own so that the page's scripts can neither see nor post to
// the view's message handler.
#include "html_capture.h"

#include <glib.h>

namespace {

// %MAP% becomes [[event, kind, name], ...].  A captured event is stopped
// before the page sees it (capture phase on window, first listener) with
// its default action cancelled; when the program answers 0 (S_OK) it is
// dispatched again, and that second pass goes through untouched.
constexpr char kScript[] = R"JS((function () {
  'use strict';
  const map = %MAP%;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const handler = handlers && handlers.tarvo;
  if (!handler || !map.length) return;
  let passing = 0;
  const matches = (el, kind, name) =>
    kind === 1 ? el.id === name :
    kind === 2 ? el.classList.contains(name) : el.tagName.toUpperCase() === name.toUpperCase();
  const source = (ev) => {
    for (let el = ev.target instanceof Element ? ev.target : null; el; el = el.parentElement)
      for (const [type, kind, name] of map)
        if (type === ev.type && matches(el, kind, name)) return el;
    return null;
  };
  const snapshot = (ev, el) => {
    const box = el instanceof HTMLInputElement && (el.type === 'checkbox' || el.type === 'radio');
    return JSON.stringify([ev.type, el.id || '', el.tagName.toUpperCase(), el.getAttribute('class') || '',
                           box ? (el.checked ? '1' : '0') : '', typeof el.value === 'string' ? el.value : '']);
  };
  const reapply = (ev, target) => {
    passing++;
    try {
      if (ev.type === 'click' && typeof target.click === 'function') target.click();
      else target.dispatchEvent(new ev.constructor(ev.type, ev));
    } finally {
      passing--;
    }
  };
  for (const type of new Set(map.map((e) => e[0])))
    window.addEventListener(type, (ev) => {
      if (passing) return;
      const el = source(ev);
      if (!el) return;
      const target = ev.target, text = snapshot(ev, el);
      ev.preventDefault();
      ev.stopImmediatePropagation();
      handler.postMessage(text).then((hr) => { if (hr === 0) reapply(ev, target); }, () => {});
    }, true);
})();)JS";

void json_string(GString *out, const std::string &s)
{
  g_string_append_c(out, '"');
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') g_string_append_printf(out, "\\%c", c);
    else if (c < 0x20 || c == '<' || c == 0x7F) g_string_append_printf(out, "\\u%04x", c);
    else g_string_append_c(out, char(c));
  }
  g_string_append_c(out, '"');
}

}  // namespace

std::string html_capture_script(const std::vector<html_capture_entry> &capture)
{
  GString *map = g_string_new("[");
  for (size_t i = 0; i < capture.size(); ++i) {
    if (i) g_string_append_c(map, ',');
    g_string_append_c(map, '[');
    json_string(map, capture[i].event);
    g_string_append_printf(map, ",%d,", capture[i].kind);
    json_string(map, capture[i].name);
    g_string_append_c(map, ']');
  }
  g_string_append_c(map, ']');
  std::string script = kScript;
  script.replace(script.find("%MAP%"), 5, map->str);
  g_string_free(map, TRUE);
  return script;
}
