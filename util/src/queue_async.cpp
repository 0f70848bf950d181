// The bounded queue between one writing and one reading thread.
#include <tarvo_util/sys_thread.h>

extern "C" {

int queue_async_create(queue_async_rec *q, uint32_t capacity)
{
  *q = queue_async_rec{};
  if (!sys_semaphore_create(&q->items, 0, capacity)) return 0;
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
  *value = q->slots[q->read_pos];
  q->read_pos = q->read_pos + 1 == q->capacity ? 0 : q->read_pos + 1;
  return sys_semaphore_increase(&q->free_slots);
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
