// One web administration request: reading it, the session store, the
// login and the XML answer.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

#include <string>
#include <tarvo_util/sys_owner.h>

#include "tollamy_config.h"

enum tollamy_kind { TOLLAMY_SUCCESS, TOLLAMY_FAILURE, TOLLAMY_NO_SESSION };

struct tollamy_request {
  tollamy_config *config = nullptr;
  own::str_list names, values;
  const char *controller = nullptr, *action = nullptr, *content = nullptr;
  const char *sent_session_id = nullptr;
  std::string session_id;  // "free-pass", a checked id or a new one; empty for none
  uint16_t port = 0;
  uint8_t remote[4] = {}, own_ip[4] = {};
  std::string answer;  // written to standard output when not empty
};

// The first value of the parameter, or NULL.
const char *tollamy_arg(const tollamy_request *r, const char *name);

// Reads the method, the query or body and the addresses; false on any
// fault of the request.
bool tollamy_request_read(tollamy_request *r);
// Serves the read request; false for exit status 1.
bool tollamy_request_handle(tollamy_request *r);

// The menu page, with the request's session id (also the answer to a
// login); the login page, which ends the request's session first.
bool tollamy_menu_page(tollamy_request *r);
bool tollamy_login_page(tollamy_request *r);

// A session's creation time: its birth time, else (file systems that
// record none) its modification time, which nothing changes on a session
// file.
int64_t tollamy_session_born(const struct statx *x);
// Session ids have exactly the form this program creates.
bool tollamy_session_id_valid(const char *id);
// A new id from 128 random bits.
bool tollamy_session_id_make(char out[37]);

// Element writer: <name attrs>text</name>, or <name attrs/> without text.
void tollamy_element(std::string *out, const char *name, const char *text, const char *const *attr_names,
                     const char *const *attr_values, bool escape);
// The answer: content type, XML declaration, root with head, body when given.
void tollamy_answer(tollamy_request *r, tollamy_kind kind, const char *body);
