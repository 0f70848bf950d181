/* The service control stand-in: a foreground process that runs one service
 * the way a system service manager would.  Signals are the controls
 * (SIGTERM stop, SIGINT shutdown, SIGUSR1 the suspend power event, SIGUSR2
 * the resume power event, SIGHUP a parameter change); where the system bus
 * is there, the login manager's sleep and wake arrive as the same two power
 * events, the suspend handled in full before the system may sleep.  Every
 * status the service reports is passed on to systemd when it started the
 * process. */
#ifndef TARVO_PLATFORM_SVC_H
#define TARVO_PLATFORM_SVC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Service states. */
#define SVC_STOPPED 1
#define SVC_START_PENDING 2
#define SVC_STOP_PENDING 3
#define SVC_RUNNING 4

/* Controls handed to the control handler. */
#define SVC_CONTROL_STOP 1
#define SVC_CONTROL_SHUTDOWN 5
#define SVC_CONTROL_PARAMCHANGE 6
#define SVC_CONTROL_POWEREVENT 13

/* Bits of svc_status_rec.controls_accepted. */
#define SVC_ACCEPT_STOP 0x01
#define SVC_ACCEPT_PARAMCHANGE 0x08
#define SVC_ACCEPT_SHUTDOWN 0x04
#define SVC_ACCEPT_POWEREVENT 0x40

/* Event types of SVC_CONTROL_POWEREVENT. */
#define SVC_POWER_SUSPEND 4
#define SVC_POWER_RESUME_CRITICAL 6
#define SVC_POWER_RESUME_SUSPEND 7
#define SVC_POWER_RESUME_AUTOMATIC 18

/* Results of a control handler. */
#define SVC_NO_ERROR 0
#define SVC_ERROR_CALL_NOT_IMPLEMENTED 120

typedef uint32_t (*svc_ctrl_handler)(uint32_t control, uint32_t event_type, void *event_data,
                                     void *context);
typedef void (*svc_main_fn)(uint32_t argc, char **argv);

/* exit_code is the process's exit status once the service has stopped
 * (0 = a normal stop); wait_hint_ms tells how long a pending state may
 * last. */
typedef struct {
  uint32_t state;
  uint32_t controls_accepted;
  uint32_t exit_code;
  uint32_t wait_hint_ms;
} svc_status_rec;

typedef struct svc_status_rec_handle *svc_status_handle;

/* Runs the service named name: blocks the control signals in the calling
 * thread (so that every thread the service starts inherits the mask), calls
 * main_fn on the calling thread, then turns each control signal into a call
 * of the registered handler until the service reports SVC_STOPPED.  Must be
 * called before the process starts any other thread.  1 with *exit_status
 * set (the stopped status's exit code, 255 at most); 0 when it cannot run
 * the service (a second dispatcher, the signal mask refused, or main_fn
 * returned without registering a handler). */
int svc_dispatch(const char *name, svc_main_fn main_fn, int *exit_status);

/* Registers the control handler of the service being dispatched; NULL when
 * no dispatcher runs or the name is not the dispatched service's. */
svc_status_handle svc_ctrl_handler_register(const char *name, svc_ctrl_handler handler,
                                            void *context);

/* Records the service's status and tells systemd of it; 1/0. */
int svc_status_set(svc_status_handle h, const svc_status_rec *status);

/* Sends one notification (for example "READY=1") to the datagram socket
 * named by NOTIFY_SOCKET; a path, or a name in the abstract namespace
 * when it begins with '@'.  1 when sent or when NOTIFY_SOCKET is unset, 0
 * when the socket cannot be reached. */
int svc_sd_notify(const char *state);

#ifdef __cplusplus
}
#endif
#endif
