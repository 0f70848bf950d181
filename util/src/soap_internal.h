// The exchange steps that the one-call actions and the parallel client
// share.
#pragma once

#include <tarvo_util/http_client.h>
#include <tarvo_util/soap.h>

// Where an answer body goes: the growing array sa, or else the caller's
// buffer buf; either takes at most cap bytes and a terminating NUL.
struct soap_body_sink {
  sys_stralloc_rec *sa;
  char *buf;
  uint32_t cap;
  uint32_t len = 0;

  bool put(const char *data, uint32_t n);
  bool terminate();
  void reset();
};

// The POST (or M-POST) request head, envelope and body, flushed.
int soap_write_request(http_client *client, bool mpost, const char *service_type, const char *action,
                       char *const *extra_lines, const char *body);
// The headers after a status line and, unless status is 100, the body.
int soap_read_response(http_client *client, int status, soap_body_sink *sink);
// Status lines and answers until one that is not 100.
int soap_read_answer(http_client *client, int *status, soap_body_sink *sink);
// code: 0 for 2xx (the lists filled when both are given), else the fault's
// errorCode; false, with code 501, when the body does not say.
bool soap_result(int status, const char *body, sys_str_list *out_names, sys_str_list *out_values, uint32_t *code);
