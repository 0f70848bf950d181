/* IPv4 sockets, the buffered socket reader/writer, socket sets, the
 * machine's addresses, MAC addresses from the ARP cache, host names, the
 * SSDP constants, the network start-up call and the product token.
 *
 * Addresses are 4 bytes in network order; ports are host order.  Sockets
 * are descriptors, -1 when invalid.  Results are 1/0 unless stated. */
#ifndef TARVO_UTIL_SYS_SOCKET_H
#define TARVO_UTIL_SYS_SOCKET_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/util_limits.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- start-up and identity --- */

/* Ignores SIGPIPE; may be called any number of times. */
int platform_init(void);
/* "Windows/<major>.<minor> UPnP/1.0 Kelmar Tarvo UPnP/1.0" with the two
 * numbers of the running kernel's release; caller frees with sys_alloc_free. */
int platform_server_name(char **s);
int sys_host_local(char **name);
/* Dotted decimal gives its 4 bytes; otherwise every IPv4 address of the
 * host, 4 bytes each, in the resolver's order (ma emptied first). */
int sys_host_ip4(const char *name, sys_memalloc_rec *ma);

const uint8_t *ssdp_ip(void);        /* 239.255.255.250 */
uint16_t ssdp_port(void);            /* 1900 */
const char *ssdp_host(void);         /* "239.255.255.250" */
const char *ssdp_host_port(void);    /* "239.255.255.250:1900" */
const uint8_t *sys_ip4_loopback(void);
const uint8_t *sys_ip4_any(void);

/* --- addresses --- */

/* Dotted decimal without NUL; the length; buf NULL only counts. */
uint32_t sys_ip4_fmt(char *buf, const uint8_t *ip);
/* Four decimal numbers 0-255 separated by '.'; the characters consumed,
 * 0 on failure. */
uint32_t sys_ip4_scan(const char *s, uint8_t *ip);
/* The machine's addresses: every interface entry that is up and not
 * loopback (0.0.0.0 skipped), then 127.0.0.1; 1 when not empty. */
int sys_ip4_list(sys_memalloc_rec *ma);
/* The same without the interfaces and addresses named in disabled (an
 * entry is an interface name or a dotted address; NULL = none). */
int sys_ip4_list2(sys_memalloc_rec *ma, char *const *disabled);
/* The first address of the list above, else 127.0.0.1. */
int sys_ip4_get(uint8_t *ip);
/* A descriptor that becomes readable when an IPv4 address or a network
 * interface of the machine changes, so that the list above can be read
 * again then instead of at intervals; 0 (*fd -1) when the system gives
 * none. */
int sys_ip4_watch_open(int *fd);
/* Reads off, without waiting, what made the watch readable. */
void sys_ip4_watch_clear(int fd);

/* Six bytes as "xx:xx:xx:xx:xx:xx" (17 characters, no NUL); buf NULL only
 * counts. */
uint32_t sys_mac_fmt(char *buf, const uint8_t *mac);
/* Six hexadecimal groups 0-ff separated by ':'; the characters consumed,
 * 0 on failure. */
uint32_t sys_mac_scan(const char *s, uint8_t *mac);
/* The ARP cache ($TARVO_ARP_FILE, else /proc/net/arp); complete entries
 * only. */
int sys_mac_from_ip_cache4(uint8_t *mac, const uint8_t *ip);
int sys_mac_to_ip_cache4(const uint8_t *mac, uint8_t *ip);

/* --- sockets (close-on-exec; sends never raise SIGPIPE) --- */

int sys_socket_tcp(int *sock);
int sys_socket_udp(int *sock);
int sys_socket_bind4(int sock, const uint8_t *ip, uint16_t port);
int sys_socket_bind_reuse4(int sock, const uint8_t *ip, uint16_t port);
int sys_socket_listen(int sock, uint32_t backlog);
int sys_socket_accept4(int sock, int *new_sock, uint8_t *ip, uint16_t *port);
/* On a non-blocking socket this fails and sys_socket_would_block() is 1. */
int sys_socket_connect4(int sock, const uint8_t *ip, uint16_t port);
int sys_socket_connected(int sock);
int sys_socket_local4(int sock, uint8_t *ip, uint16_t *port);
int sys_socket_remote4(int sock, uint8_t *ip, uint16_t *port);
int sys_socket_send(int sock, const void *data, uint32_t len, uint32_t *sent);
int sys_socket_allsend(int sock, const void *data, uint32_t len);
/* got 0 when the peer has closed. */
int sys_socket_recv(int sock, void *buf, uint32_t size, uint32_t *got);
int sys_socket_sendto4(int sock, const void *data, uint32_t len, const uint8_t *ip, uint16_t port,
                       uint32_t *sent);
int sys_socket_recvfrom4(int sock, void *buf, uint32_t size, uint8_t *ip, uint16_t *port,
                         uint32_t *got);
/* how: 0 receive, 1 send, 2 both. */
int sys_socket_shutdown(int sock, int how);
/* -1 gives 1. */
int sys_socket_close(int sock);
/* Before a server closes a connection: when input is still waiting, ends
 * the sending side and reads off what the peer still sends (bounded by
 * SYS_SOCKET_LINGER_MS and SYS_SOCKET_LINGER_MAX), because closing with
 * unread input makes the system answer with a reset that can destroy the
 * answer before the peer has read it. */
void sys_socket_linger(int sock);
/* The same without waiting, for a thread that must not block: ends the
 * sending side, reads off the input already there, closes. */
void sys_socket_close_drained(int sock);
int sys_socket_ndelay_on(int sock);
/* TCP_NODELAY: small answers and requests leave at once instead of
 * waiting for the peer's delayed acknowledgement. */
int sys_socket_nodelay_on(int sock);
int sys_socket_ndelay_off(int sock);
/* 1 when the calling thread's last socket call would have blocked (also a
 * non-blocking connect in progress). */
int sys_socket_would_block(void);
/* 1 when readable (writable, or in error) within ms; a failed wait also
 * gives 1. */
int sys_socket_read_wait(int sock, uint32_t ms);
int sys_socket_write_wait(int sock, uint32_t ms);
/* 1 when the peer has closed its side of a connection (or the socket is
 * in error), without waiting: nothing more will come from it. */
int sys_socket_peer_closed(int sock);
/* 1 when bytes wait unread in the socket, without waiting. */
int sys_socket_input_pending(int sock);
/* Asks for a receive buffer of size bytes, shrinking by size/32 while
 * refused and size is at least 1024. */
void sys_socket_tryreservein(int sock, uint32_t size);
/* TCP_CORK on (1) or off (0): while on, only full segments go out, so
 * that a header and the first body bytes share them; off sends the rest. */
int sys_socket_cork(int sock, int on);
int sys_socket_bcast_on(int sock);
int sys_socket_mcast_set_if(int sock, const uint8_t *ip);
int sys_socket_mcast_get_if(int sock, uint8_t *ip);
int sys_socket_mcast_join4(int sock, const uint8_t *if_ip, const uint8_t *group_ip);
int sys_socket_mcast_leave4(int sock, const uint8_t *if_ip, const uint8_t *group_ip);
int sys_socket_mcast_set_ttl(int sock, uint32_t ttl);
/* Sends length bytes of the file from offset (0: from the current
 * position) over the socket, which is left non-blocking; sendfile where
 * the socket and the file allow it.  Each wait for the peer lasts
 * SYS_SOCKET_SEND_WAIT_MS at the most, so a peer that stops reading fails
 * the send.  Stops early with success at the end of the file.  sent may
 * be NULL. */
int sys_socket_sendfile(int sock, int file, int64_t offset, int64_t length, int64_t *sent);

/* --- wake-up descriptors ---
 * A descriptor that becomes readable for good once signalled, so that any
 * number of threads can wait on it beside their sockets (the stop of a
 * server).  Closed with sys_socket_close. */
int sys_wakefd_open(int *fd);
void sys_wakefd_signal(int fd);
/* Makes it unreadable again, for a descriptor that one thread waits on to
 * learn of new work. */
void sys_wakefd_clear(int fd);

/* --- socket sets: at most SYS_SELECT_MAX sockets, waited on with poll --- */

typedef struct {
  uint32_t count;
  int fd[SYS_SELECT_MAX];
} sys_select_rec;

void sys_select_init(sys_select_rec *set);
/* Adds a socket not yet in the set; ignored when the set is full. */
void sys_select_set(sys_select_rec *set, int sock);
int sys_select_is_set(const sys_select_rec *set, int sock);
/* Waits at most ms; each non-NULL set keeps only its ready sockets and n
 * counts them; 0 when the wait fails. */
int sys_select_check(sys_select_rec *rd, sys_select_rec *wr, sys_select_rec *er, uint32_t ms,
                     uint32_t *n);

/* --- buffered socket reading and writing ---
 * For output, p bytes wait in x and n is the size.  For input, p
 * unconsumed bytes lie at x + n.  Each wait lasts at most timeout_ms, in
 * slices of SYS_SOCKET_WAIT_SLICE_MS; a wait that runs out sets timed_out.
 * canceled may be set from another thread (sys_socketbuffer_set_cancel);
 * the owner's next slice notices it and fails. */
typedef struct {
  char *x;
  uint32_t p;
  uint32_t n;
  int fd;
  uint32_t timeout_ms;
  int32_t timed_out;
  int32_t canceled; /* accessed atomically */
} sys_socketbuffer_rec;

void sys_socketbuffer_init(sys_socketbuffer_rec *sb, int sock, char *buf, uint32_t size,
                           uint32_t timeout_ms);
void sys_socketbuffer_set_timeout(sys_socketbuffer_rec *sb, uint32_t ms);
int sys_socketbuffer_is_timeout(const sys_socketbuffer_rec *sb);
void sys_socketbuffer_set_cancel(sys_socketbuffer_rec *sb, int flag);
int sys_socketbuffer_is_canceled(sys_socketbuffer_rec *sb);

int sys_socketbuffer_flush(sys_socketbuffer_rec *sb);
/* The same, telling the system that more follows at once (a header before
 * its body), so that both leave in the same segments. */
int sys_socketbuffer_flush_more(sys_socketbuffer_rec *sb);
int sys_socketbuffer_put(sys_socketbuffer_rec *sb, const void *data, uint32_t len);
int sys_socketbuffer_putalign(sys_socketbuffer_rec *sb, const void *data, uint32_t len);
int sys_socketbuffer_putflush(sys_socketbuffer_rec *sb, const void *data, uint32_t len);
int sys_socketbuffer_puts(sys_socketbuffer_rec *sb, const char *s);
int sys_socketbuffer_putsalign(sys_socketbuffer_rec *sb, const char *s);
int sys_socketbuffer_putsflush(sys_socketbuffer_rec *sb, const char *s);

/* got 0 at the end of the stream. */
int sys_socketbuffer_get(sys_socketbuffer_rec *sb, void *dst, uint32_t len, uint32_t *got);
int sys_socketbuffer_bget(sys_socketbuffer_rec *sb, void *dst, uint32_t len, uint32_t *got);
/* avail = the buffered bytes, reading once when none; avail 0 at the end
 * of the stream. */
int sys_socketbuffer_feed(sys_socketbuffer_rec *sb, uint32_t *avail);
char *sys_socketbuffer_peek(sys_socketbuffer_rec *sb);
void sys_socketbuffer_seek(sys_socketbuffer_rec *sb, uint32_t k);
/* Moves all remaining input into out; 1 at the end of the stream. */
int sys_socketbuffer_copy(sys_socketbuffer_rec *in, sys_socketbuffer_rec *out);
/* Empties sa and appends bytes up to and including terminator; got_line 0
 * at the end of the stream (sa holds the unterminated rest). */
int sys_socketbuffer_getln(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa, int *got_line,
                           int terminator);

#ifdef __cplusplus
}
#endif
#endif
