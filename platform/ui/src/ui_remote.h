// The cross-process part of the message-window core: window classes
// published by name in the user's runtime folder, and messages posted to
// another process's window as datagrams on that process's UNIX socket.
#pragma once

#include <tarvo_ui/ui_core.h>

#include <stddef.h>
#include <stdint.h>

// One posted message on the wire: native byte order (same machine).
struct ui_remote_datagram {
  uint32_t magic;    // UI_REMOTE_MAGIC
  uint32_t version;  // UI_REMOTE_VERSION
  uint64_t hwnd;     // the receiving process's window
  uint32_t message;
  uint32_t reserved;  // 0
  uint64_t wparam;
  int64_t lparam;
};
constexpr uint32_t UI_REMOTE_MAGIC = 0x49555654u;  // "TVUI"
constexpr uint32_t UI_REMOTE_VERSION = 1;
// Longest class name published: file names stay short.
constexpr size_t UI_REMOTE_CLASS_MAX = 64;

// 1 when data is one well-formed datagram for a window of process pid.
int ui_remote_parse(const void *data, size_t size, uint32_t pid, ui_remote_datagram *out);

// A published window of another live process whose class matches; NULL.
HWND ui_remote_find(const char *class_name);
// Sends the message to the window's process: 1 when the datagram went out.
int ui_remote_post(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
// Forgets the window's published class (when it is destroyed).
void ui_remote_unpublish(HWND window);
