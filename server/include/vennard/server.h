/* Start and stop of the media server, run by the service's worker. */
#ifndef VENNARD_SERVER_H
#define VENNARD_SERVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The media server's state, zero-filled at every start. */
typedef struct {
  void *device;           /* the device stack's context */
  char *data_home;        /* heap copy of the data folder */
  int32_t suspended;      /* 1 between a suspend and a resume power event */
} server_rec;

/* 1 when the server runs; 0 when it does not (everything begun undone). */
int server_start(server_rec *s, const char *data_home);
void server_stop(server_rec *s);
/* Offers the common media folders as shares once; the result is a hint. */
int default_shares_offer(server_rec *s);
/* The power events of a running server: goodbye and silence before a
 * suspend, presence again after a resume. */
void server_power_suspend(server_rec *s);
void server_power_resume(server_rec *s);

#ifdef __cplusplus
}
#endif
#endif
