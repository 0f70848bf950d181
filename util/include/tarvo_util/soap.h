/* SOAP 1.1 for UPnP control: envelope and fault texts, response and fault
 * parsers, the one-call actions and the parallel client. */
#ifndef TARVO_UTIL_SOAP_H
#define TARVO_UTIL_SOAP_H

#include <stdint.h>
#include <tarvo_util/http_client.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SOAP_ENVELOPE_NS "http://schemas.xmlsoap.org/soap/envelope/"
#define SOAP_ENCODING_NS "http://schemas.xmlsoap.org/soap/encoding/"
#define SOAP_CONTROL_NS "urn:schemas-upnp-org:control-1-0"

/* The envelope around every body: no XML declaration. */
const char *soap_xml_begin(void);
uint32_t soap_xml_begin_len(void);
const char *soap_xml_end(void);
uint32_t soap_xml_end_len(void);

/* Append to sa; 1/0. */
int soap_xml_request_begin(sys_stralloc_rec *sa, const char *service_type, const char *action);
int soap_xml_request_end(sys_stralloc_rec *sa, const char *action);
int soap_xml_response_begin(sys_stralloc_rec *sa, const char *service_type, const char *action);
int soap_xml_response_end(sys_stralloc_rec *sa, const char *action);
int soap_xml_fault(sys_stralloc_rec *sa, const char *control_ns, uint32_t error_code, const char *description);

/* The arguments of the action response in document order, values trimmed;
 * both lists NULL when the body holds no response.  1/0. */
int soap_parse(const char *xml, sys_str_list *out_names, sys_str_list *out_values);
/* 1 when the fault carries a non-zero errorCode. */
int soap_fault_parse(const char *xml, uint32_t *error_code);

/* The request head, envelope and body, written and flushed on a connected
 * client; extra_lines are complete header lines without CR LF, or NULL.
 * The M-POST form carries MAN and 01-SOAPACTION.  1/0. */
int soap_client_write_post_request(http_client *client, const char *service_type, const char *action,
                                   char *const *extra_lines, const char *body);
int soap_client_write_mpost_request(http_client *client, const char *service_type, const char *action,
                                    char *const *extra_lines, const char *body);
/* After the status line: the headers and, unless status is 100, the body
 * into sa (emptied first, not NUL-terminated).  A body over SOAP_BODY_MAX
 * fails.  1/0. */
int soap_client_read_response(http_client *client, int status, sys_stralloc_rec *sa);

/* UPnP's "Action Failed": the one code for an action that could not be
 * carried out, on both sides of the exchange. */
#define SOAP_ACTION_FAILED 501

/* The action calls return 0 for a 2xx answer, the fault's errorCode for
 * another, or SOAP_ACTION_FAILED when the exchange failed or the answer was unreadable.
 * A 405 answer is followed by the M-POST form.  out_names and out_values
 * may both be NULL; otherwise they receive the response arguments. */
uint32_t soap_client_action(const char *control_url, const char *service_type, const char *action,
                            char *const *extra_lines, const char *body, sys_str_list *out_names,
                            sys_str_list *out_values);
/* On the caller's client; a failed exchange is tried once more on a new
 * connection unless it timed out or was cancelled. */
uint32_t soap_client_action2(http_client *client, const char *service_type, const char *action,
                             char *const *extra_lines, const char *body, sys_str_list *out_names,
                             sys_str_list *out_values);
/* The same, the answer body NUL-terminated in buf; a body that does not
 * fit with its NUL fails. */
uint32_t soap_client_action_buf(http_client *client, char *buf, uint32_t size, const char *service_type,
                                const char *action, char *const *extra_lines, const char *body);

/* One action sent to many control URLs at once. */
typedef struct {
  int32_t timeout_ms;
  int32_t canceled; /* may be set from another thread */
} parallel_soap_client_rec;

#define PARALLEL_SOAP_CONNECTING_POST 1
#define PARALLEL_SOAP_CONNECTING_MPOST 2
#define PARALLEL_SOAP_AWAITING_POST 3
#define PARALLEL_SOAP_AWAITING_MPOST 4
#define PARALLEL_SOAP_ANSWERED 5
#define PARALLEL_SOAP_FAILED 6

typedef struct {
  char *control_url;
  int32_t state;
  uint32_t error_code; /* 0, the fault's errorCode, or SOAP_ACTION_FAILED */
  sys_str_list out_names;
  sys_str_list out_values;
} parallel_soap_client_result_rec;

void parallel_soap_client_init(parallel_soap_client_rec *pc);
void parallel_soap_client_set_timeout(parallel_soap_client_rec *pc, int32_t timeout_ms);
void parallel_soap_client_set_cancel(parallel_soap_client_rec *pc, int32_t canceled);
int parallel_soap_client_is_canceled(parallel_soap_client_rec *pc);
/* *results: one record per URL, in order, NULL-terminated.  1, or 0 when
 * it cannot start, a wait fails or it is cancelled. */
int parallel_soap_client_action(parallel_soap_client_rec *pc, char *const *control_urls, const char *service_type,
                                const char *action, char *const *extra_lines, const char *body,
                                parallel_soap_client_result_rec ***results);
void parallel_soap_client_result_free(parallel_soap_client_result_rec *result);
void parallel_soap_client_result_list_free(parallel_soap_client_result_rec **results);

#ifdef __cplusplus
}
#endif
#endif
