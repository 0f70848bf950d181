/* The media HTTP server: the listener on http_port that streams the
 * resources of the content database, and the base URLs that the writers
 * put in front of resource paths. */
#ifndef VENNARD_MEDIA_HTTP_H
#define VENNARD_MEDIA_HTTP_H

#include <stdint.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* Reads http_port, keeps server_name for the SERVER header and starts
 * listening; 1/0 (everything undone). */
int media_http_start(struct server_rec *s, const char *data_home, const char *server_name);
/* Ends the accept thread and every connection, and waits for them. */
void media_http_stop(struct server_rec *s);
/* "http://" address ":" http_port: the one for local_ip first, then, with
 * all_interfaces, one for every other address of the host except
 * 127.0.0.1.  NULL-terminated heap list. */
int media_base_urls(struct server_rec *s, const uint8_t *local_ip, int all_interfaces, sys_str_list *list);

#ifdef __cplusplus
}
#endif
#endif
