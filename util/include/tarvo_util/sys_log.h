/* The process-wide levelled log.  SYS_LOG_LEVEL (0-8, 0 or unset: off)
 * chooses the most verbose level written; SYS_LOG_OUTPUT is "stdout" (or
 * unset), "stderr" or a file path to append to. */
#ifndef TARVO_UTIL_SYS_LOG_H
#define TARVO_UTIL_SYS_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

#define SYS_LOG_EMERGENCY 1
#define SYS_LOG_ALERT 2
#define SYS_LOG_CRITICAL 3
#define SYS_LOG_ERROR 4
#define SYS_LOG_WARNING 5
#define SYS_LOG_NOTICE 6
#define SYS_LOG_INFO 7
#define SYS_LOG_DEBUG 8

/* Sets the log up once; later calls return 1 at once.  The first call gives
 * 0 when the log is off or could not start. */
int sys_log_init(void);
/* Writes one line when level is at most the configured level. */
void sys_log_print(int level, const char *format, ...)
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  ;
/* Closes the log's own file (the close result, else 0); a later call sets
 * the log up afresh from the environment. */
int sys_log_end(void);

#ifdef __cplusplus
}
#endif
#endif
