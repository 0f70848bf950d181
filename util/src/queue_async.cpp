// The bounded queue between one writing and one reading thread.
#include <tarvo_util/sys_thread.h>

#include <atomic>

namespace {

std::atomic_ref<int32_t> woken(queue_async_rec *q) { return std::atomic_ref<int32_t>(q->woken); }

}  // namespace

extern "C" {

int queue_async_create(queue_async_rec *q, uint32_t capacity)
{
  *q = queue_async_rec{};
  if (!capacity || capacity == UINT32_MAX) return 0;
  // One count beyond the slots is a pending wake's.
  if (!sys_semaphore_create(&q->items, 0, capacity + 1)) return 0;
  if (!sys_semaphore_create(&q->free_slots, capacity, capacity)) {
    sys_semaphore_destroy(&q->items);
    return 0;
  }
  q->slots = static_cast<uintptr_t *>(sys_alloc(size_t(capacity) * sizeof(uintptr_t)));
  if (!q->slots) {
    sys_semaphore_destroy(&q->items);
    sys_semaphore_destroy(&q->free_slots);
    return 0;
  }
  q->capacity = capacity;
  return 1;
}

int queue_async_write(queue_async_rec *q, uint32_t ms, uintptr_t value)
{
  if (!sys_semaphore_wait(&q->free_slots, ms)) return 0;
  q->slots[q->write_pos] = value;
  q->write_pos = q->write_pos + 1 == q->capacity ? 0 : q->write_pos + 1;
  return sys_semaphore_increase(&q->items);
}

int queue_async_read(queue_async_rec *q, uint32_t ms, uintptr_t *value)
{
  if (!sys_semaphore_wait(&q->items, ms)) return 0;
  // The count taken is the wake's own (or an item's, whose count the wake
  // left for the next read): either way exactly one count is used up.
  if (woken(q).exchange(0, std::memory_order_acq_rel)) return 0;
  *value = q->slots[q->read_pos];
  q->read_pos = q->read_pos + 1 == q->capacity ? 0 : q->read_pos + 1;
  return sys_semaphore_increase(&q->free_slots);
}

void queue_async_wake(queue_async_rec *q)
{
  if (!woken(q).exchange(1, std::memory_order_acq_rel)) sys_semaphore_increase(&q->items);
}

int queue_async_destroy(queue_async_rec *q)
{
  sys_semaphore_destroy(&q->items);
  sys_semaphore_destroy(&q->free_slots);
  sys_alloc_free(q->slots);
  q->slots = nullptr;
  return 1;
}

}  // extern "C"
