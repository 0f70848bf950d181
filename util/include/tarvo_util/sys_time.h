/* Clocks and calendar time.  Times are seconds (or milliseconds) since
 * 1970-01-01 00:00:00 UTC in the caller's 64-bit variable; results are 1
 * for success and 0 for failure. */
#ifndef TARVO_UTIL_SYS_TIME_H
#define TARVO_UTIL_SYS_TIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calendar fields; milliseconds are not carried.  The weekday is ignored
 * when converting to seconds. */
typedef struct {
  int32_t year;
  int32_t month;   /* 1-12 */
  int32_t day;     /* 1-31 */
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t weekday; /* 0 = Sunday */
} sys_caltime_rec;

int sys_time_now(int64_t *t);
int sys_timems_now(int64_t *t);

/* Years 1601 to 30827 convert; outside them the _from calls zero the
 * record and fail. */
int sys_caltime_utc_from(sys_caltime_rec *cal, const int64_t *t);
int sys_caltime_local_from(sys_caltime_rec *cal, const int64_t *t);
int sys_caltime_utc_to(const sys_caltime_rec *cal, int64_t *t);
int sys_caltime_local_to(const sys_caltime_rec *cal, int64_t *t);

/* The zone's standard offset, UTC minus local time, in seconds, daylight
 * saving not included: 18000 for New York, -32400 for Tokyo; 0 when the
 * zone cannot be read. */
int sys_caltime_get_local_time_offset(int32_t *seconds);

#ifdef __cplusplus
}
#endif
#endif
