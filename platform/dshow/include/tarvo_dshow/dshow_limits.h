/* Bounds of the streaming base classes. */
#ifndef TARVO_DSHOW_DSHOW_LIMITS_H
#define TARVO_DSHOW_DSHOW_LIMITS_H

/* All buffers of one memory allocator lie in one block of at most this many
 * bytes: a peer that asks for more is refused instead of taking the heap. */
#define DSHOW_ALLOCATOR_MAX_BYTES (256LL * 1024 * 1024)

/* Samples an output queue hands on in one call when it batches. */
#define DSHOW_OUTPUT_QUEUE_DEFAULT_BATCH 50

#endif
