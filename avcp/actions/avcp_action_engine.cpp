// The action engine: one request writer, the readers of response argument
// lists, and the one-call client; every service's table runs on it.
#include "avcp_action_impl.h"

#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_limits.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

namespace avcp {

in_value::in_value(uint32_t v) { num[sys_str_fmt_uint32(num, v)] = 0; }
in_value::in_value(int32_t v) { num[sys_str_fmt_int32(num, v)] = 0; }
in_value::in_value(uint16_t v) { num[sys_str_fmt_uint16(num, v)] = 0; }
in_value::in_value(int16_t v) { num[sys_str_fmt_int16(num, v)] = 0; }

namespace {

// The next blank-separated word of a row's argument list, split at '='
// (or ':') into the argument name and what follows it.
struct word {
  char name[AVCP_ACTION_NAME_MAX];
  const char *fixed = nullptr;  // after '=': the fixed text
  const char *flag = nullptr;   // after ':'
  uint32_t fixed_len = 0;
};

bool next_word(const char **at, word *w)
{
  const char *p = *at;
  while (*p == ' ') p++;
  if (!*p) return false;
  uint32_t n = 0;
  while (p[n] && p[n] != ' ' && p[n] != '=' && p[n] != ':' && n + 1 < sizeof w->name) {
    w->name[n] = p[n];
    n++;
  }
  w->name[n] = 0;
  p += n;
  w->fixed = w->flag = nullptr;
  if (*p == '=' || *p == ':') {
    (*p == '=' ? w->fixed : w->flag) = p + 1;
    w->fixed_len = 0;
    while (p[1 + w->fixed_len] && p[1 + w->fixed_len] != ' ') w->fixed_len++;
    p += 1 + w->fixed_len;
  }
  *at = p;
  return true;
}

}  // namespace

int build_body(const action &a, char **body, const in_value *values, uint32_t n)
{
  own::stralloc sa;
  if (!sys_stralloc_ready(&sa.s, a.reserve) || !soap_xml_request_begin(&sa.s, a.type, a.name)) return 0;
  uint32_t next = 0;
  word w;
  for (const char *at = a.in; next_word(&at, &w);) {
    char fixed[AVCP_ACTION_NAME_MAX];
    const char *text;
    if (w.fixed) {
      sys_byte_copy(fixed, w.fixed_len, w.fixed);
      fixed[w.fixed_len] = 0;
      text = fixed;
    } else {
      if (next >= n) return 0;  // a row naming more arguments than its function takes
      text = values[next++].text();
    }
    if (!xml_gen_element_append(&sa.s, w.name, text)) return 0;
  }
  if (!soap_xml_request_end(&sa.s, a.name) || !sys_stralloc_append(&sa.s, "")) return 0;
  *body = sa.s.buf;
  sa.s = sys_stralloc_rec{};
  return 1;
}

namespace {

uint32_t count(char *const *list)
{
  uint32_t n = 0;
  while (list && list[n]) n++;
  return n;
}

// The response arguments.  A list may be NULL (an answer without a
// response element): it reads as empty.  Names and values are taken as
// parallel only as far as both reach.
struct args {
  char **names, **values;
  uint32_t n;   // arguments with both a name and a value
  uint32_t nv;  // values, all of which a full reading frees

  args(char **nm, char **vl) : names(nm), values(vl), n(count(nm)), nv(count(vl))
  {
    if (nv < n) n = nv;
  }
  // The first argument of that name, or n.
  uint32_t find(const char *name) const
  {
    uint32_t i = 0;
    while (i < n && sys_str_diff(names[i], name)) i++;
    return i;
  }
  void free_values()
  {
    for (uint32_t i = 0; i < nv; i++) {
      sys_alloc_free(values[i]);
      values[i] = nullptr;
    }
  }
};

// A number of the pointer's type; a sign alone is no number.
bool scan(const char *s, const out_ptr &o)
{
  const char *digits = (*s == '+' || *s == '-') && o.t != out_ptr::u32 && o.t != out_ptr::u16 && o.t != out_ptr::u64
                           ? s + 1
                           : s;
  if (*digits < '0' || *digits > '9') return false;
  switch (o.t) {
  case out_ptr::u32: return sys_str_scan_uint32(s, static_cast<uint32_t *>(o.p));
  case out_ptr::i32: return sys_str_scan_int32(s, static_cast<int32_t *>(o.p));
  case out_ptr::u16: return sys_str_scan_uint16(s, static_cast<uint16_t *>(o.p));
  case out_ptr::i16: return sys_str_scan_int16(s, static_cast<int16_t *>(o.p));
  case out_ptr::u64: return sys_str_scan_uint64(s, static_cast<uint64_t *>(o.p));
  default: return false;
  }
}

// "Name=1": present, and reads 1.
bool reads_one(const char *s)
{
  uint32_t v = 0;
  out_ptr o(&v);
  return scan(s, o) && v == 1;
}

int read_multi(const action &a, args &l, const out_ptr *outs, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++)
    if (outs[i].t == out_ptr::str && outs[i].p) *static_cast<char **>(outs[i].p) = nullptr;
  bool ok = true;
  uint32_t next = 0;
  word w;
  for (const char *at = a.out; ok && next_word(&at, &w);) {
    uint32_t i = l.find(w.name);
    if (i == l.n) {
      ok = false;
    } else if (w.fixed) {
      ok = reads_one(l.values[i]);
    } else if (next < n) {
      const out_ptr &o = outs[next++];
      if (!o.p) continue;
      if (o.t == out_ptr::str) {
        *static_cast<char **>(o.p) = l.values[i];
        l.values[i] = nullptr;
      } else {
        ok = scan(l.values[i], o);
      }
    }
  }
  if (!ok)
    for (uint32_t i = 0; i < n; i++)
      if (outs[i].t == out_ptr::str && outs[i].p) {
        char **s = static_cast<char **>(outs[i].p);
        sys_alloc_free(*s);
        *s = nullptr;
      }
  l.free_values();
  return ok;
}

int read_numbers(const action &a, const args &l, const out_ptr *outs, uint32_t n)
{
  uint32_t next = 0;
  word w;
  for (const char *at = a.out; next_word(&at, &w) && next < n;) {
    uint32_t i = l.find(w.name);
    const out_ptr &o = outs[next++];
    if (i == l.n || (o.p && !scan(l.values[i], o))) return 0;
  }
  return 1;
}

// A split list: an empty value gives a list without entries.
bool split(const char *value, char ***out)
{
  if (*value) return csv_split(value, out);
  char **empty = static_cast<char **>(sys_alloc_zero(sizeof(char *)));
  if (!empty) return false;
  *out = empty;
  return true;
}

int read_single(const action &a, args &l, const out_ptr &o)
{
  word w;
  const char *at = a.out;
  if (!next_word(&at, &w)) return 0;
  uint32_t i = l.find(w.name);
  if (i == l.n) return 0;
  if (o.t == out_ptr::list) {
    char **list = nullptr;
    if (!split(l.values[i], &list)) return 0;
    if (o.p)
      *static_cast<char ***>(o.p) = list;
    else
      sys_str_list_free(list);
  } else if (w.flag) {
    if (o.p) *static_cast<int *>(o.p) = avcp_didl_boolean_value(l.values[i]);
  } else if (o.p) {
    *static_cast<char **>(o.p) = l.values[i];
    l.values[i] = nullptr;
  }
  l.free_values();
  return 1;
}

}  // namespace

int parse_lists(const action &a, char **names, char **values, const out_ptr *outs, uint32_t n)
{
  args l(names, values);
  switch (a.kind) {
  case reading::multi: return read_multi(a, l, outs, n);
  case reading::numbers: return read_numbers(a, l, outs, n);
  case reading::single: return n == 1 && read_single(a, l, outs[0]);
  case reading::none: return 1;
  }
  return 0;
}

uint32_t call_on_url(const char *control_url, uint32_t (*run)(http_client *, void *), void *ctx)
{
  http_client client = nullptr;
  if (!control_url || !http_client_init(&client, control_url)) return SOAP_ACTION_FAILED;
  uint32_t r = run(&client, ctx);
  http_client_free(&client);
  return r;
}

}  // namespace avcp

extern "C" {

const char *avcp_type_msd(void) { return "urn:schemas-upnp-org:device:MediaServer:1"; }
const char *avcp_type_mrd(void) { return "urn:schemas-upnp-org:device:MediaRenderer:1"; }
const char *avcp_type_cds(void) { return avcp::cds_type; }
const char *avcp_type_cms(void) { return avcp::cms_type; }
const char *avcp_type_avts(void) { return avcp::avts_type; }
const char *avcp_type_rcs(void) { return avcp::rcs_type; }

}  // extern "C"
