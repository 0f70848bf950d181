/* Start and stop of the media server, run by the service's worker, and
 * the server's one state record. */
#ifndef VENNARD_SERVER_H
#define VENNARD_SERVER_H

#include <stdint.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>
#include <vennard/conf_store.h>
#include <vennard/connection_manager.h>
#include <vennard/content_db.h>
#include <vennard/device_manager.h>
#include <vennard/media_http.h>
#include <vennard/share_scanner.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The media server's state, zero-filled at every start up to the device
 * gate. */
typedef struct server_rec {
  tarvo_device_ctx *device; /* the device stack's context; first */
  char *data_home;          /* heap copy of the data folder */
  char udn[CONF_UDN_LENGTH + 1]; /* the device's UDN, NUL-terminated */
  sys_ptralloc_rec modules; /* service_module_rec pointers, in load order */
  int32_t suspended;        /* 1 between a suspend and a resume power event; inside the device gate */
  /* The description text that the device stack serves at "/" (heap). */
  char *description;
  uint16_t http_port;       /* the media HTTP server's port */
  content_db_rec content;
  cm_state_rec cm;
  access_control_rec access;
  media_http_rec media;
  share_scanner_rec scanner;
  int32_t suspend_transport; /* the flag key suspend_transport: keep awake while streaming */
  /* The device gate: server threads call into the device stack only
   * between server_device_enter and server_device_leave, which let them in
   * only while device_ready is set.  Both accessed atomically.  The power
   * handler knocks at any time, also while a start zero-fills the record,
   * so they come last and the start leaves them as the last stop left
   * them (closed, nobody inside). */
  int32_t device_ready;
  int32_t device_users;
  /* Set (atomically) once the service is told to stop: a start still
   * loading the content database gives the load up.  Beyond the zero-fill
   * too, as the stop may come while a start clears the record. */
  int32_t stop_asked;
} server_rec;

/* 1 when the server runs; 0 when it does not (everything begun undone). */
int server_start(server_rec *s, const char *data_home);
/* 0 when the content database's last save failed. */
int server_stop(server_rec *s);
/* 1 when a running server has nothing left that wakes one of its threads
 * by itself: the share scanner has scanned and waits for a change, and
 * every change is saved and evented. */
int server_settled(server_rec *s);
/* Offers the common media folders as shares once; the result is a hint. */
int default_shares_offer(server_rec *s);
/* The power events of a running server: goodbye and silence before a
 * suspend, presence again after a resume.  Nothing while the device stack
 * does not run, or when the server is in that state already.  One caller
 * at a time, at any time: also during a start or a stop. */
void server_power_suspend(server_rec *s);
void server_power_resume(server_rec *s);

/* Opens the device gate; called once tarvo_device_start has succeeded. */
void server_device_ready_set(server_rec *s);
/* Closes the gate and waits until no thread is inside; called before
 * tarvo_device_end. */
void server_device_ready_clear(server_rec *s);
/* 1: the caller may use s->device until server_device_leave; 0: the device
 * stack is not running (do not call leave). */
int server_device_enter(server_rec *s);
void server_device_leave(server_rec *s);

#ifdef __cplusplus
}
#endif
#endif
