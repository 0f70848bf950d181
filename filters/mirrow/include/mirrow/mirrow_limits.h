/* Bounds of what the resample filter takes in. */
#ifndef TARVO_MIRROW_MIRROW_LIMITS_H
#define TARVO_MIRROW_MIRROW_LIMITS_H

/* Sampling rates outside these are no audio a player takes, and a rate
 * ratio beyond them would make the engine's buffers run to gigabytes. */
#define MIRROW_MIN_RATE 1000u
#define MIRROW_MAX_RATE 768000u
/* Channels beyond the largest speaker layouts: the engine's buffers grow
 * with the count. */
#define MIRROW_MAX_CHANNELS 32u
/* The smallest output buffer the filter works with, in bytes. */
#define MIRROW_MIN_BUFFER 512
/* An output buffer larger than this would be a rate ratio gone wrong. */
#define MIRROW_MAX_BUFFER (64 * 1024 * 1024)
/* Input frames the engine takes at a time. */
#define MIRROW_BLOCK_FRAMES 1024
/* Half-lengths beyond this give no better audio, only slower filters and
 * larger tables. */
#define MIRROW_MAX_HALF_LENGTH 256
/* Room for the tap weights of repeating offsets, in floats (1 MiB): the
 * common rate pairs need a few thousand; a ratio needing more computes each
 * frame's weights afresh. */
#define MIRROW_WEIGHT_CACHE_FLOATS (256u * 1024u)

#endif
