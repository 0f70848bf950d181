// The stateless calls: description and SCPD fetches, SOAP actions and
// QueryStateVariable.
#include "cp_impl.h"

#include <tarvo_util/soap.h>

int cp_fetch(upnp_cp_ctx *c, const char *url, sys_stralloc_rec *body)
{
  http_client client = nullptr;
  if (!url || !http_client_init(&client, url)) return 0;
  if (c) cp_client_hold(c, &client);
  http_client_set_read_timeout(&client, CP_FETCH_READ_TIMEOUT_MS);
  char close_line[] = "CONNECTION: close";
  char *extra[] = {close_line, nullptr};
  int status = 0;
  bool ok = http_client_get(&client, extra, &status) && status == 200;
  body->len = 0;
  char block[CP_FETCH_BLOCK];
  for (uint32_t got = 1; ok && got;) {
    ok = http_client_read(&client, block, sizeof block, &got) &&
         body->len + got <= CP_FETCH_BODY_MAX && sys_stralloc_catb(body, block, got);
  }
  if (c) cp_client_release(c, &client);
  http_client_free(&client);
  return ok && sys_stralloc_append(body, "") ? 1 : 0;
}

void cp_client_hold(upnp_cp_ctx *c, http_client *client)
{
  sys_mutex_lock(&c->live_mutex);
  if (c->cancel_clients || !sys_ptralloc_append(&c->clients, client)) http_client_set_cancel(client, 1);
  sys_mutex_unlock(&c->live_mutex);
}

void cp_client_release(upnp_cp_ctx *c, http_client *client)
{
  sys_mutex_lock(&c->live_mutex);
  for (uint32_t i = 0; i < c->clients.len; i++)
    if (c->clients.buf[i] == client) {
      sys_ptralloc_remove(&c->clients, i);
      break;
    }
  sys_mutex_unlock(&c->live_mutex);
}

void cp_cancel_clients(upnp_cp_ctx *c)
{
  sys_mutex_lock(&c->live_mutex);
  c->cancel_clients = 1;
  for (uint32_t i = 0; i < c->clients.len; i++)
    http_client_set_cancel(static_cast<http_client *>(c->clients.buf[i]), 1);
  sys_mutex_unlock(&c->live_mutex);
}

int cp_get_desc(upnp_cp_ctx *c, const char *location, upnp_desc_rec **desc)
{
  *desc = nullptr;
  sys_stralloc_rec body{};
  int ok = cp_fetch(c, location, &body) && upnp_desc_parse(body.buf, desc);
  sys_stralloc_free(&body);
  if (ok && !upnp_desc_absolute_uri(*desc, location)) ok = 0;
  if (!ok && *desc) {
    upnp_desc_free(*desc);
    *desc = nullptr;
  }
  return ok;
}

extern "C" {

int upnp_cp_get_desc(const char *location, upnp_desc_rec **desc) { return cp_get_desc(nullptr, location, desc); }

int upnp_cp_get_desc_scpd(const char *url, upnp_desc_scpd_rec **scpd)
{
  *scpd = nullptr;
  sys_stralloc_rec body{};
  int ok = cp_fetch(nullptr, url, &body) && upnp_desc_scpd_parse(body.buf, scpd);
  sys_stralloc_free(&body);
  return ok;
}

uint32_t upnp_cp_action(const char *control_url, const char *service_type, const char *action,
                        const char *body, sys_str_list *names, sys_str_list *values)
{
  return soap_client_action(control_url, service_type, action, nullptr, body, names, values);
}

uint32_t upnp_cp_action2(http_client *client, const char *service_type, const char *action,
                         const char *body, sys_str_list *names, sys_str_list *values)
{
  return soap_client_action2(client, service_type, action, nullptr, body, names, values);
}

uint32_t upnp_cp_query(const char *control_url, const char *var_name, char **value)
{
  *value = nullptr;
  sys_stralloc_rec sa{};
  uint32_t code = SOAP_ACTION_FAILED;
  if (soap_xml_request_begin(&sa, SOAP_CONTROL_NS, "QueryStateVariable") &&
      sys_stralloc_cats(&sa, "<u:varName>") && sys_stralloc_cats(&sa, var_name) &&
      sys_stralloc_cats(&sa, "</u:varName>") && soap_xml_request_end(&sa, "QueryStateVariable") &&
      sys_stralloc_append(&sa, "")) {
    sys_str_list names = nullptr, values = nullptr;
    code = soap_client_action(control_url, SOAP_CONTROL_NS, "QueryStateVariable", nullptr, sa.buf,
                              &names, &values);
    if (code == 0) {
      uint32_t i = names ? sys_str_list_find(names, "return") : 0;
      if (!names || !names[i] || !values[i] || !sys_str_clone(values[i], value)) code = SOAP_ACTION_FAILED;
    }
    sys_str_list_free(names);
    sys_str_list_free(values);
  }
  sys_stralloc_free(&sa);
  return code;
}

}  // extern "C"
