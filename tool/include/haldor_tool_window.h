// The management tool's window as other programs of the user reach it:
// while the tool runs, the user's section "HaldorHwnd" holds its frame's
// handle at offset 0 (8 bytes), and a WM_COMMAND HALDOR_CMD_SHARES_CHANGED
// posted to that window tells the tool that the published folders changed.
// The frame's class is published, so the post crosses to its process.
#pragma once

#include <tarvo_platform/named.h>
#include <tarvo_ui/ui_core.h>

#include <cstring>

constexpr char HALDOR_WINDOW_SECTION[] = "HaldorHwnd";
constexpr UINT HALDOR_CMD_SHARES_CHANGED = 2003;

// The tool's window from the section; NULL when no tool has written one.
inline HWND haldor_tool_window()
{
  const void *map = nullptr;
  named_section_rec *s = named_section_open(HALDOR_WINDOW_SECTION, NAMED_SCOPE_USER, &map);
  if (!s) return nullptr;
  HWND w;
  std::memcpy(&w, map, sizeof w);
  named_section_close(s);
  return w;
}

// Creates the section holding window; closing it removes the name.  NULL
// when it cannot be had.
inline named_section_rec *haldor_tool_window_publish(HWND window)
{
  void *map = nullptr;
  named_section_rec *s = named_section_create(HALDOR_WINDOW_SECTION, NAMED_SCOPE_USER, &map);
  if (s) std::memcpy(map, &window, sizeof window);
  return s;
}
