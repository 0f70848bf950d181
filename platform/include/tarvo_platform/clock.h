/* The desktop programs' clock for timers and sleeps, and their debug
 * channel.  $TARVO_TIME_SCALE (a number above 0) makes tests run every timer
 * and sleep that many times faster; network time-outs are not scaled. */
#ifndef TARVO_PLATFORM_CLOCK_H
#define TARVO_PLATFORM_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The scale, read once: 1 when the variable is unset or not above 0. */
double platform_time_scale(void);
/* Milliseconds of program time: monotonic, scale times as fast as real. */
uint64_t platform_clock_ms(void);
/* The real milliseconds that ms of program time take (at least 1 for ms > 0). */
uint32_t platform_real_ms(uint32_t ms);
/* Sleeps for ms of program time. */
void platform_sleep_ms(uint32_t ms);

/* Appends text and a line end to $TARVO_DEBUG_OUTPUT when it is set;
 * does nothing otherwise. */
void platform_debug_output(const char *text);

#ifdef __cplusplus
}
#endif
#endif
