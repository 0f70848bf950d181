/* The service manager stand-in: systemd over the system bus, or with
 * $TARVO_SCM_DIR set a file backend (one folder per unit holding a config
 * record "start=...", "display=..." and a state record "state=...",
 * "pid=...").  A service is named as the system names it: "Tarvo Media
 * Server" is the unit the project ships, vennard.service; any other name is
 * its lower-case form with each run of other characters as "-" and
 * ".service" appended.  Results are 1/0; scm_last_error tells why the last
 * failing call of this thread failed. */
#ifndef TARVO_PLATFORM_SCM_H
#define TARVO_PLATFORM_SCM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SCM_SERVER_SERVICE "Tarvo Media Server"
#define SCM_SERVER_UNIT "vennard.service"
/* Longest unit name (systemd's own limit). */
#define SCM_UNIT_NAME_MAX 256u

/* The unit of a service name, with its NUL; 0 for an empty name or one that
 * does not fit. */
int scm_unit_name(const char *service, char *buf, uint32_t size);
/* *running: 1 when the unit is active and its process runs. */
int scm_service_running(const char *service, int *running);
/* Starts the service automatically at boot; display_name is kept where the
 * backend has a place for it (the file backend only). */
int scm_service_enable(const char *service, const char *display_name);
int scm_service_start(const char *service);
const char *scm_last_error(void);

#ifdef __cplusplus
}
#endif
#endif
