/* Bounds of the platform's stand-ins, in one place. */
#ifndef TARVO_PLATFORM_PLATFORM_LIMITS_H
#define TARVO_PLATFORM_PLATFORM_LIMITS_H

/* A login manager that has not answered an inhibitor call in this long is
 * stuck; the caller goes on without the lock. */
#define SYS_BUS_CALL_MS 5000u
/* The service manager's reload re-reads every unit file: sd-bus's own
 * default wait. */
#define SYS_BUS_MANAGER_CALL_MS 25000u
/* While the system bus is gone it is looked for again this often: a
 * restarted bus daemon is back within a second or two. */
#define SYS_BUS_RETRY_MS 1000u

#endif
