// The one engine under every action family: a row describes the action on
// the wire, and the macros at the end make the four functions of a table
// row from it.
#pragma once

#include <tarvo_avcp/avcp_action.h>
#include <tarvo_util/soap.h>

#include <array>
#include <cstdint>

namespace avcp {

inline constexpr char cds_type[] = "urn:schemas-upnp-org:service:ContentDirectory:1";
inline constexpr char cms_type[] = "urn:schemas-upnp-org:service:ConnectionManager:1";
inline constexpr char avts_type[] = "urn:schemas-upnp-org:service:AVTransport:1";
inline constexpr char rcs_type[] = "urn:schemas-upnp-org:service:RenderingControl:1";

// How a response is read.
enum class reading {
  none,     // no OUT arguments: the lists are not read
  multi,    // strings handed over, numbers scanned; all or nothing
  single,   // one argument handed over (string, list or flag)
  numbers,  // numbers only; the lists stay as they are
};

// An action on the wire.  in names the IN arguments in order, blank
// separated; "Name=text" is sent with that fixed text instead of taking a
// parameter.  out names the OUT arguments the same way; "Name=1" must be
// present and read 1 without being handed out, "Name:bool" reads an int
// pointer as a boolean word.
struct action {
  const char *type;
  const char *name;
  uint32_t reserve;  // first reservation of the request body
  reading kind;
  const char *in;
  const char *out;
};

// One IN value as text; numbers are formatted into the record itself.
struct in_value {
  char num[16];
  const char *s = nullptr;
  in_value(const char *v) : s(v ? v : "") {}
  in_value(uint32_t v);
  in_value(int32_t v);
  in_value(uint16_t v);
  in_value(int16_t v);
  const char *text() const { return s ? s : num; }
};

// One OUT pointer with the type it stores.
struct out_ptr {
  enum type { str, list, u32, i32, u16, i16, u64 } t;
  void *p;
  out_ptr(char **v) : t(str), p(v) {}
  out_ptr(char ***v) : t(list), p(v) {}
  out_ptr(uint32_t *v) : t(u32), p(v) {}
  out_ptr(int32_t *v) : t(i32), p(v) {}
  out_ptr(uint16_t *v) : t(u16), p(v) {}
  out_ptr(int16_t *v) : t(i16), p(v) {}
  out_ptr(uint64_t *v) : t(u64), p(v) {}
};

int build_body(const action &a, char **body, const in_value *values, uint32_t n);
int parse_lists(const action &a, char **names, char **values, const out_ptr *outs, uint32_t n);
uint32_t call_on_url(const char *control_url, uint32_t (*run)(http_client *, void *), void *ctx);

template <class... A> int build(const action &a, char **body, A... args)
{
  const std::array<in_value, sizeof...(A)> v{in_value(args)...};
  return build_body(a, body, v.data(), uint32_t(v.size()));
}

template <class... P> int parse(const action &a, char **names, char **values, P... outs)
{
  const std::array<out_ptr, sizeof...(P)> o{out_ptr(outs)...};
  return parse_lists(a, names, values, o.data(), uint32_t(o.size()));
}

// The client form: build, send, and parse unless the action answers
// nothing.  make(char **body) and read(char **names, char **values).
template <class Make, class Read> uint32_t call(http_client *client, const action &a, Make make, Read read)
{
  char *body = nullptr;
  if (!make(&body)) return SOAP_ACTION_FAILED;
  sys_str_list names = nullptr, values = nullptr;
  uint32_t r = soap_client_action2(client, a.type, a.name, nullptr, body, &names, &values);
  if (!r && a.kind != reading::none && !read(names, values)) r = SOAP_ACTION_FAILED;
  sys_alloc_free(body);
  sys_str_list_free(names);
  sys_str_list_free(values);
  return r;
}

// The one-call form: a client of its own for the control URL.
template <class Run> uint32_t call_url(const char *control_url, Run run)
{
  return call_on_url(
      control_url, [](http_client *c, void *ctx) { return (*static_cast<Run *>(ctx))(c); }, &run);
}

}  // namespace avcp

// The four functions of a table row; the row's action record is named
// <service>_<action>.
#define AVCP_DEFINE_NONE(s, a, IP, IA)                                                                  \
  int avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IP) char **body)                                    \
  {                                                                                                     \
    return avcp::build(s##_##a, body AVCP_LEAD_LIST(IA));                                               \
  }                                                                                                     \
  uint32_t avcp_##s##_##a##2(http_client * client AVCP_LEAD_LIST(IP))                                   \
  {                                                                                                     \
    return avcp::call(                                                                                  \
        client, s##_##a, [&](char **b) { return avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IA) b); }, \
        [](char **, char **) { return 1; });                                                            \
  }                                                                                                     \
  uint32_t avcp_##s##_##a(const char *control_url AVCP_LEAD_LIST(IP))                                   \
  {                                                                                                     \
    return avcp::call_url(control_url, [&](http_client *c) { return avcp_##s##_##a##2(c AVCP_LEAD_LIST(IA)); }); \
  }

#define AVCP_DEFINE_OUT(s, a, IP, IA, OP, OA)                                                           \
  int avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IP) char **body)                                    \
  {                                                                                                     \
    return avcp::build(s##_##a, body AVCP_LEAD_LIST(IA));                                               \
  }                                                                                                     \
  int avcp_##s##_parse_##a##_response(char **names, char **values AVCP_LEAD_LIST(OP))                   \
  {                                                                                                     \
    return avcp::parse(s##_##a, names, values AVCP_LEAD_LIST(OA));                                      \
  }                                                                                                     \
  uint32_t avcp_##s##_##a##2(http_client * client AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP))                \
  {                                                                                                     \
    return avcp::call(                                                                                  \
        client, s##_##a, [&](char **b) { return avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IA) b); }, \
        [&](char **n, char **v) { return avcp_##s##_parse_##a##_response(n, v AVCP_LEAD_LIST(OA)); });  \
  }                                                                                                     \
  uint32_t avcp_##s##_##a(const char *control_url AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP))                \
  {                                                                                                     \
    return avcp::call_url(control_url,                                                                  \
                          [&](http_client *c) { return avcp_##s##_##a##2(c AVCP_LEAD_LIST(IA) AVCP_LEAD_LIST(OA)); }); \
  }
