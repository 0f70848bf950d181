// Host names of the clients from the hosts file; see tollamy_hosts.h.
#include "tollamy_hosts.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <tarvo_util/hosts_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/utf8file.h>

namespace {

// One job of the runner.  The worker owns a reference, so the record
// outlives a poll that gave up on it.
struct host_job {
  std::string input, path, result;
  std::atomic<bool> done{false};
};

void worker(void *arg)
{
  std::unique_ptr<std::shared_ptr<host_job>> ref(static_cast<std::shared_ptr<host_job> *>(arg));
  host_job &j = **ref;
  own::stralloc sa;
  try {
    std::string name;
    if (file_read_all_max(j.path.c_str(), &sa.s, HOSTS_FILE_MAX) &&
        tollamy_hosts_name(sa.s.buf, sa.s.len, j.input.c_str(), &name))
      j.result = std::move(name);
  } catch (const std::bad_alloc &) {
    j.result.clear();
  }
  j.done.store(true, std::memory_order_release);
}

}  // namespace

bool tollamy_hosts_name(const char *data, uint32_t size, const char *addr, std::string *name)
{
  const char *found = nullptr;
  uint32_t n = hosts_text_name(data, size, addr, &found);
  if (!n || n > TOLLAMY_HOST_NAME_MAX) return false;
  name->assign(found, n);
  return true;
}

void tollamy_host_names(const std::vector<std::string> &ips, std::vector<std::string> *hosts)
{
  std::string path = hosts_file_path();
  std::vector<std::shared_ptr<host_job>> jobs;
  std::vector<sys_thread_handle> threads;
  for (const std::string &ip : ips) {
    auto j = std::make_shared<host_job>();
    j->input = ip;
    j->path = path;
    jobs.push_back(j);
    auto *ref = new std::shared_ptr<host_job>(j);
    sys_thread_handle t;
    if (!sys_thread_create(&t, worker, ref)) {
      delete ref;  // never done: no name
      continue;
    }
    threads.push_back(t);
    sys_thread_sleep(TOLLAMY_HOST_START_WAIT_MS);
  }
  for (uint32_t round = 0; round < TOLLAMY_HOST_POLLS; round++) {
    bool all = true;
    for (const auto &j : jobs) all = all && j->done.load(std::memory_order_acquire);
    if (all) break;
    sys_thread_sleep(TOLLAMY_HOST_POLL_MS);
  }
  for (sys_thread_handle t : threads) sys_thread_detach(t);
  hosts->clear();
  for (const auto &j : jobs) hosts->push_back(j->done.load(std::memory_order_acquire) ? j->result : std::string());
}
