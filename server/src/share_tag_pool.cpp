// The tagging threads: they read the items of a folder's new and changed
// files while the walk is still at earlier entries.  The tag library keeps
// no state, so any thread may read any file; the walk takes the results in
// its own order, which keeps ids and the database file as a one-thread
// scan makes them.
#include "share_impl.h"

#include <vennard/vennard_limits.h>

#include <deque>
#include <thread>

namespace scan {

struct tag_pool {
  state *st = nullptr;
  sys_mutex_handle mutex{};
  sys_sync_rec work{};  // a job was queued, or the threads are to end
  sys_sync_rec done{};  // a job was done
  std::deque<tag_job *> queue;
  bool ending = false;  // under mutex
  std::vector<sys_thread_handle> threads;
  uint32_t wanted = 0;
  bool tried = false;   // the threads were started, or could not be
};

namespace {

enum : int { JOB_QUEUED, JOB_RUNNING, JOB_DONE };

void worker_main(void *arg)
{
  tag_pool *p = static_cast<tag_pool *>(arg);
  sys_mutex_lock(&p->mutex);
  while (!p->ending) {
    if (p->queue.empty()) {
      sys_sync_wait(&p->work, &p->mutex);
      continue;
    }
    tag_job *job = p->queue.front();
    p->queue.pop_front();
    job->phase = JOB_RUNNING;
    sys_mutex_unlock(&p->mutex);
    didl_object *item = nullptr;
    bool ok = share_item_read(job->path.c_str(), job->mime.c_str(), &item);
    sys_mutex_lock(&p->mutex);
    job->item = item;
    job->ok = ok;
    job->phase = JOB_DONE;
    sys_sync_notify_all(&p->done);
  }
  sys_mutex_unlock(&p->mutex);
}

uint32_t threads_wanted(int32_t asked)
{
  if (asked < 0) return 0;
  if (asked > 0) return uint32_t(asked) < SHARE_TAG_THREADS_MAX ? uint32_t(asked) : SHARE_TAG_THREADS_MAX;
  // The scanner thread keeps one processor for its database work.
  unsigned cpus = std::thread::hardware_concurrency();
  uint32_t spare = cpus > 1 ? uint32_t(cpus - 1) : 0;
  return spare < SHARE_TAG_THREADS_MAX ? spare : SHARE_TAG_THREADS_MAX;
}

// The threads, on the first job: a restart on an unchanged library never
// starts them.  They inherit the scanner thread's lower priority.
bool pool_ready(tag_pool *p)
{
  if (p->tried) return !p->threads.empty();
  p->tried = true;
  if (!p->wanted) return false;
  if (!sys_mutex_create(&p->mutex)) return false;
  if (!sys_sync_create(&p->work) || !sys_sync_create(&p->done)) {
    sys_sync_destroy(&p->work);
    sys_mutex_destroy(&p->mutex);
    return false;
  }
  for (uint32_t i = 0; i < p->wanted; i++) {
    sys_thread_handle t{};
    if (!sys_thread_create(&t, worker_main, p)) break;
    p->threads.push_back(t);
  }
  if (!p->threads.empty()) return true;
  sys_sync_destroy(&p->done);
  sys_sync_destroy(&p->work);
  sys_mutex_destroy(&p->mutex);
  return false;
}

}  // namespace

bool tag_pool_open(state *st)
{
  st->pool = new (std::nothrow) tag_pool;
  if (!st->pool) return false;
  st->pool->st = st;
  st->pool->wanted = threads_wanted(st->s->scanner.tag_threads);
  return true;
}

bool tag_pool_submit(state *st, tag_job *job)
{
  tag_pool *p = st->pool;
  if (!p || !pool_ready(p)) return false;
  sys_mutex_lock(&p->mutex);
  bool queued = true;
  try {
    p->queue.push_back(job);
    job->phase = JOB_QUEUED;
    job->queued = true;
    sys_sync_notify(&p->work);
  } catch (...) {
    queued = false;
  }
  sys_mutex_unlock(&p->mutex);
  return queued;
}

bool tag_pool_take(state *st, tag_job *job)
{
  if (!job->queued) return false;
  tag_pool *p = st->pool;
  sys_mutex_lock(&p->mutex);
  job->queued = false;
  bool taken = true;
  if (job->phase == JOB_QUEUED) {
    // Not begun: the caller reads the file itself, at once.
    std::erase(p->queue, job);
    taken = false;
  }
  while (job->phase == JOB_RUNNING) sys_sync_wait(&p->done, &p->mutex);
  sys_mutex_unlock(&p->mutex);
  return taken;
}

void tag_pool_close(state *st)
{
  tag_pool *p = st->pool;
  if (!p) return;
  if (!p->threads.empty()) {
    sys_mutex_lock(&p->mutex);
    p->ending = true;
    sys_sync_notify_all(&p->work);
    sys_mutex_unlock(&p->mutex);
    for (sys_thread_handle t : p->threads) sys_thread_join(t);
    sys_sync_destroy(&p->done);
    sys_sync_destroy(&p->work);
    sys_mutex_destroy(&p->mutex);
  }
  delete p;
  st->pool = nullptr;
}

tag_job::~tag_job() { didl_object_free(item); }

}  // namespace scan
