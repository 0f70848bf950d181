// The application glue of quessel: its files beside the program and in the
// server's data folder, its ini file, the two server clients, the app lock
// around every management-port call and the background state poll.
#pragma once

#include <tarvo_avcpl/tarvo_avcpl.h>
#include <tarvo_dmsm/tarvo_dmsm.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Program time between two background polls.
constexpr unsigned HELPER_POLL_MS = 5000;
// Read time-out of the SOAP client.
constexpr unsigned HELPER_AVCPL_READ_MS = 60000;
// The name of the single-instance mutex and of the program's windows.
constexpr const char *HELPER_TITLE = "Tarvo Media Server Helper";
constexpr const char *HELPER_INI_SECTION = "General";
constexpr const char *HELPER_KEY_NO_NOTICE = "NoMsg:ConnectAllow";
constexpr const char *HELPER_KEY_NO_INQUIRY = "Setting:ConnectClient";

struct helper_app {
  std::mutex lock;  // every tarvo_dmsm call
  tarvo_dmsm_handle dmsm{};
  bool dmsm_set = false;  // no dmsm_port: every management call fails at once
  tarvo_avcpl_handle avcpl = nullptr;
  std::atomic<bool> running{false};
  std::atomic<int> polled_state{2};  // 0 inactive, 1 active, 2 unreachable
  std::mutex sleep_lock;
  std::condition_variable wake;  // ends the poll's sleep at exit
  std::thread poller;
  int mutex_fd = -1;
};

helper_app &app();

// The start: single instance, ini defaults, the clients and the poll.  0 when
// the program is to end; *code is then its exit code.
int helper_init_instance(int *code);
// The end: the poll thread stopped and joined, the clients freed.
void helper_exit_instance();

int request_server_start();
int request_server_stop();
int query_server_active();
// 1 active, 0 inactive, 2 when the call failed.
int query_server_state();
// kind 0 "default", 1 "allow", 2 "deny".  1 when the action returned 0.
int set_client_permission(const std::string &key, const std::string &address, int kind);
// 1 with *state 1 for "allow", 2 for "deny"; 0 for anything else.
int query_default_client_state(int *state);

// conf folder (with a trailing "/"), ini file, known-client list.
int conf_dir_path(std::string *path);
int helper_ini_path(std::string *path);
int known_clients_path(std::string *path);
// The program's folder and base name.
std::string program_folder();
std::string program_base_name();
// A port file of the conf folder: leading decimal digits (none: 0).
int read_conf_port(const char *name, uint16_t *port);

// The two ini values, 0 when missing; writes as decimal text.
int ini_read(const char *key);
void ini_write(const char *key, int value);

// Shown where the program would show a message box; the window layer may
// replace it.  flags: 0 plain, 1 warning.
extern void (*helper_message_box)(const char *text, const char *caption, int flags);
