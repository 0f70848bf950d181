// Readers of SOAP bodies: the arguments of an action or its response, and
// the errorCode of a UPnP fault.
#include <tarvo_util/soap.h>

#include "xml_internal.h"

namespace {

// The envelope namespace with or without its final '/'.
bool in_envelope_ns(const xml_name_rec *n)
{
  return n->ns && !sys_str_diffn(n->ns, sizeof SOAP_ENVELOPE_NS - 2, SOAP_ENVELOPE_NS) &&
         (!n->ns[sizeof SOAP_ENVELOPE_NS - 2] || !sys_str_diff(n->ns + sizeof SOAP_ENVELOPE_NS - 2, "/"));
}

// Envelope / Body / the action element / its arguments, one level each.
struct body_reader : xml_walk {
  bool response_seen = false;
  xml_str_list names, values;

  void on_start(const xml_name_rec *n, const xml_name_rec *const *, const char *const *) override
  {
    switch (depth) {
    case 1:
      if (!in_envelope_ns(n) || sys_str_diff(n->local, "Envelope")) fail();
      break;
    case 2:
      if (n->ns && !in_envelope_ns(n))
        fail();
      else if (!n->ns || sys_str_diff(n->local, "Body"))
        skip();
      break;
    case 3:
      if (!n->ns)
        skip();
      else
        response_seen = true;
      break;
    case 4: {
      if (n->ns && sys_str_diff(n->ns, SOAP_CONTROL_NS)) return skip();
      char *s;
      if (!sys_str_clone(n->local, &s) || !names.add(s)) fail();
      break;
    }
    default: fail();  // an element inside an argument
    }
  }

  void on_end(const xml_name_rec *) override
  {
    char *s;
    if (depth == 4 && take_text(&s, true) && !values.add(s)) fail();
  }
};

// Envelope / Body / Fault / detail / UPnPError / errorCode.
struct fault_reader : xml_walk {
  uint32_t code = 0;

  void on_start(const xml_name_rec *n, const xml_name_rec *const *, const char *const *) override
  {
    static const struct {
      const char *ns, *local;
    } path[] = {{SOAP_ENVELOPE_NS, "Envelope"}, {SOAP_ENVELOPE_NS, "Body"},      {SOAP_ENVELOPE_NS, "Fault"},
                {nullptr, "detail"},            {SOAP_CONTROL_NS, "UPnPError"}, {SOAP_CONTROL_NS, "errorCode"}};
    if (depth <= 6 && xml_name_is(n, path[depth - 1].ns, path[depth - 1].local)) return;
    if (depth == 1) return fail();
    skip();
  }

  void on_end(const xml_name_rec *) override
  {
    if (depth != 6) return;
    xml_gen_text_trim(&text);
    uint32_t v;
    if (sys_stralloc_append(&text, "") && xml_scan_decimal(text.buf, &v)) code = v;
  }
};

}  // namespace

extern "C" {

int soap_parse(const char *xml, sys_str_list *out_names, sys_str_list *out_values)
{
  *out_names = nullptr;
  *out_values = nullptr;
  body_reader r;
  if (!xml_walk_run(&r, xml)) return 0;
  if (!r.response_seen) return 1;
  sys_str_list names;
  if (!r.names.finish(&names)) return 0;
  if (!r.values.finish(out_values)) {
    sys_str_list_free(names);
    return 0;
  }
  *out_names = names;
  return 1;
}

int soap_fault_parse(const char *xml, uint32_t *error_code)
{
  fault_reader r;
  if (!xml_walk_run(&r, xml) || !r.code) return 0;
  *error_code = r.code;
  return 1;
}

}  // extern "C"
