/* The service shell of the media server: the process entry, the service
 * main function and control handler, the worker thread, and the loopback
 * management port through which local clients start and stop the server
 * and switch auto-run. */
#ifndef VENNARD_SERVICE_H
#define VENNARD_SERVICE_H

#include <stdint.h>
#include <tarvo_util/sys_thread.h>
#include <vennard/server.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exit statuses of the program. */
#define VENNARD_EXIT_OK 0
#define VENNARD_EXIT_CONFIG 1       /* service_name or data_home unreadable or unresolvable */
#define VENNARD_EXIT_DATA_HOME 2    /* the data folder cannot be made the current folder */
#define VENNARD_EXIT_WORKER 3       /* the worker thread cannot be started */
#define VENNARD_EXIT_SAVE 4         /* a stop could not save the content database */

typedef struct {
  server_rec server;
  sys_thread_handle worker;
  int listen_socket;
  uint16_t port;
  int32_t running;             /* 1 while the server is started; accessed atomically */
  int32_t stop;                /* set to end the worker; accessed atomically */
  int32_t save_lost;           /* a stop could not save the content database; accessed atomically */
  int wake;                    /* readable once stop is set (service_worker_stop) */
  sys_mutex_handle lifecycle;  /* serialises server start and stop */
  sys_mutex_handle power;      /* serialises the power calls into the server */
  int32_t asleep;              /* the last power event was a suspend; accessed atomically */
  const char *data_home;
} service_worker_rec;

/* The folder of the files service_name and data_home: $TARVO_SERVICE_DIR
 * when set, else the program's own folder.  Heap string. */
int service_dir(char **dir);
/* Reads service_name (its first line, at most SERVICE_NAME_MAX bytes
 * kept) and data_home (an absolute path as it is, other text below the
 * common application-data folder; at most DATA_HOME_MAX bytes) from dir.
 * Heap strings; 0 when either cannot be read or resolved. */
int service_files_read(const char *dir, char **service_name, char **data_home);

/* Runs the service: the process entry after the files are read.  The exit
 * status of the process. */
int service_run(const char *service_name, const char *data_home);
void service_main(uint32_t argc, char **argv);
uint32_t service_ctrl_handler(uint32_t control, uint32_t event_type, void *event_data,
                              void *context);

/* The record zero-filled, with its lock and its wake-up; 1/0. */
int service_worker_init(service_worker_rec *w, const char *data_home);
void service_worker_free(service_worker_rec *w);
/* Sets the stop flag and wakes the management loop, which then ends. */
void service_worker_stop(service_worker_rec *w);

/* The worker thread's body: auto-run start, the management port, the
 * final stop. */
void server_worker(service_worker_rec *w);
/* The management port loop, until w->stop is set or the port cannot be
 * opened. */
void management_port_run(service_worker_rec *w);
/* Serves one request on an admitted connection, then closes it. */
void management_port_serve(service_worker_rec *w, int sock);

/* Starts the server unless it runs (then offers the default shares);
 * 1 when it runs afterwards. */
int service_server_start(service_worker_rec *w);
void service_server_stop(service_worker_rec *w);
/* 1 when the server is stopped, or runs and is settled (server_settled). */
int service_server_settled(service_worker_rec *w);
/* A power event (SVC_POWER_*) for the server, when its device stack runs;
 * it does not wait for a start or stop, and a start brings the server to
 * the state of the last event. */
void service_power_event(service_worker_rec *w, uint32_t event_type);

/* 1 when the 4 bytes are 127.0.0.1 or one of the host's own addresses. */
int is_local_address(const uint8_t *ip);

#ifdef __cplusplus
}
#endif
#endif
