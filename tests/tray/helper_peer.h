// A window of class "dozarezu_wnd" published on a thread of the test, which
// records the messages other processes post to it.
#pragma once

#include <tarvo_ui/ui_core.h>

#include <glib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace tray_test {

struct peer_message {
  UINT msg;
  WPARAM w;
  LPARAM l;
  std::chrono::steady_clock::time_point at;
};

class peer_window {
 public:
  explicit peer_window(const char *cls)
  {
    std::atomic<int> ready{0};
    thread_ = std::thread([this, cls, &ready] {
      GMainContext *ctx = g_main_context_new();
      g_main_context_push_thread_default(ctx);
      hwnd_ = CreateMessageWindow(cls, "", proc, this);
      published_ = hwnd_ && PublishWindowClass(hwnd_);
      ready = 1;
      while (!stop_) g_main_context_iteration(ctx, FALSE), std::this_thread::sleep_for(std::chrono::milliseconds(2));
      DestroyWindow(hwnd_);
      g_main_context_pop_thread_default(ctx);
      g_main_context_unref(ctx);
    });
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~peer_window()
  {
    stop_ = 1;
    thread_.join();
  }
  bool published() const { return published_; }
  HWND hwnd() const { return hwnd_; }
  std::vector<peer_message> messages()
  {
    std::lock_guard<std::mutex> g(m_);
    return got_;
  }

 private:
  static LRESULT proc(HWND h, UINT msg, WPARAM w, LPARAM l)
  {
    auto *self = static_cast<peer_window *>(GetWindowUserData(h));
    if (self && msg >= WM_USER) {
      std::lock_guard<std::mutex> g(self->m_);
      self->got_.push_back({msg, w, l, std::chrono::steady_clock::now()});
    }
    return 0;
  }
  std::thread thread_;
  std::atomic<int> stop_{0};
  HWND hwnd_ = nullptr;
  bool published_ = false;
  std::mutex m_;
  std::vector<peer_message> got_;
};

}  // namespace tray_test
