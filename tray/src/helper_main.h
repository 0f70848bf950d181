// The hidden main window of quessel: the tray icon and its commands, the
// one-second tick (server state into the icon, the access-folder watch, one
// popup at a time), the client-query queue and the answers to the server.
#pragma once

#include <string>
#include <vector>

#include <tarvo_ui/ui_core.h>

// Field sizes of a queued notification, in characters without the end.
constexpr size_t NOTIFY_HOST_CHARS = 272, NOTIFY_MESSAGE_CHARS = 260, NOTIFY_KEY_CHARS = 32;
// Tries and pause for an access file that is still empty or being written.
constexpr int ACCESS_READ_TRIES = 10;
constexpr unsigned ACCESS_READ_PAUSE_MS = 10;
// The main window's tick, and the wait before the closing 0x510.
constexpr unsigned HELPER_TICK_MS = 1000;
constexpr unsigned HELPER_CLOSE_NOTE_MS = 1000;
// Messages shared with the program behind "dozarezu_wnd".
constexpr UINT HELPER_MSG_POPUP = 0x510, HELPER_MSG_RAISE = 0x511;
constexpr const char *HELPER_PEER_CLASS = "dozarezu_wnd";
constexpr const char *HELPER_MAIN_TITLE = "Quessel";

struct NOTIFY_ITEM {
  int kind;  // 1: a new client
  std::string host_line, message, key, address;
};

// The present keys: the files of "allow", then of "deny".
void list_access_keys(const std::string &access, std::vector<std::string> *keys);
// The access file of key (allow first): 1 with its path.
int client_key_exists(const std::string &access, const std::string &key, std::string *path);
// 0 with the address (and host name, "" when unknown); 11 while the file is
// empty or cannot be opened for now; another errno value when it is gone.
int read_client_address(const std::string &access, const std::string &key, std::string *address, std::string *host);
// Cuts text to at most chars code points.
std::string cut_chars(const std::string &text, size_t chars);

// Creates the main window and its tray icon; NULL on failure.
HWND helper_main_create();
// Runs it until it ends (Exit, WM_CLOSE); the result of its modal loop.
intptr_t helper_main_run(HWND main);
