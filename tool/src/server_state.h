// The server-state monitor: polls the management port on a thread of its
// own, tells its observers once a new state has been read three times in a
// row, runs start and stop on a worker, and switches auto-run.
#pragma once

#include <tarvo_dmsm/tarvo_dmsm.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Program time between two polls.
constexpr unsigned SERVER_STATE_POLL_MS = 5000;
// Equal reads that make a state settled.
constexpr int SERVER_STATE_SETTLE_READS = 3;
// Program time stop waits for each thread.
constexpr unsigned SERVER_STATE_STOP_WAIT_MS = 10000;

// Shown when a thread cannot be made; the window layer replaces it.
extern std::function<void(const char *)> tool_message_box;

class CObserver {
 public:
  virtual ~CObserver() = default;
  virtual void Update(int event) = 0;
};

class CObserverServerState : public CObserver {
 public:
  void Update(int event) override { OnServerStateChanged(event); }
  // 1: the server settled on started; 0: on stopped or not reachable.
  // Called on the polling thread: observers only post to their window.
  virtual void OnServerStateChanged(int event) = 0;
};

class CSubject {
 public:
  virtual ~CSubject() = default;
  virtual int Attach(CObserver *o);
  virtual int Detach(CObserver *o);
  int Notify(int event);

 private:
  std::mutex m_observerLock;  // Notify runs on the polling thread
  std::vector<CObserver *> m_observers;
};

// A finishing thread: joined when it ends in time, else left running.
struct tool_thread {
  std::thread t;
  std::mutex m;
  std::condition_variable cv;
  bool done = true;
  void start(std::function<void()> body);
  int join_within(unsigned program_ms);  // 1 when joined (or never started)
  int join_within_real(unsigned ms);
};

class CSubjectServerState : public CSubject {
 public:
  static CSubjectServerState &Instance();
  ~CSubjectServerState() override;

  int server_state_start(unsigned port);
  void server_state_stop();
  // Starts the worker with the request that the current state calls for.
  int server_toggle();
  int set_auto_run(int on);

  // 0 = not reachable, 1 = stopped, 2 = started; auto-run 0 unknown, 1 off, 2 on.
  int server_state() const { return m_serverState; }
  int auto_run_state() const { return m_autoRunState; }
  int busy() const { return m_busy; }
  // Asks the server for both states now; the stored ones take the answers.
  // server and auto_run (either may be NULL) get what this read found.
  void read_state(int *server = nullptr, int *auto_run = nullptr);

 private:
  void poll_thread();
  int start_worker(int request);
  void start_stop();
  void cancel();

  tarvo_dmsm_handle m_handle{};
  std::recursive_mutex m_lock;  // every tarvo_dmsm call and the two states
  std::atomic<int> m_request{0}, m_port{0}, m_polling{0}, m_serverState{0}, m_autoRunState{0};
  std::atomic<int> m_busy{0}, m_workerRunning{0};
  std::mutex m_sleepLock;
  std::condition_variable m_wake;  // ends the polling thread's sleep at stop
  tool_thread m_poller, m_worker;
  bool m_leaked = false;  // a thread outlived stop: its handle stays
};
