// Device and service type URNs: their kind, type and version.
#include <tarvo_util/upnp_desc.h>

namespace {

// "urn:" domain ":" kind ":" at the start of s.
int is_kind(const char *s, const char *kind)
{
  if (!sys_str_start(s, "urn:")) return 0;
  s += 4;
  uint32_t domain = sys_str_chr(s, ':');
  return domain && sys_str_start(s + domain, kind);
}

// The version after the last ':': at least one digit, and no more than a
// 64-bit number holds.
bool version_of(const char *s, uint64_t *v)
{
  uint32_t n = sys_str_scan_uint64(s + sys_str_rchr(s, ':') + 1, v);
  return n >= 1 && n <= 19;
}

int version_cmp(const char *a, const char *b, bool le)
{
  if (!sys_str_diff(a, b)) return 1;
  uint64_t va, vb;
  if (!upnp_urn_type_equal(a, b) || !version_of(a, &va) || !version_of(b, &vb)) return 0;
  return le ? va <= vb : va >= vb;
}

}  // namespace

extern "C" {

int upnp_urn_is_device(const char *s) { return is_kind(s, ":device:"); }

int upnp_urn_is_service(const char *s) { return is_kind(s, ":service:"); }

int upnp_urn_type_equal(const char *a, const char *b)
{
  uint32_t la = sys_str_rchr(a, ':');
  if (!a[la] || la != sys_str_rchr(b, ':') || !b[la]) return 0;
  return !sys_str_diffn(a, la, b);
}

int upnp_urn_version_le(const char *a, const char *b) { return version_cmp(a, b, true); }

int upnp_urn_version_ge(const char *a, const char *b) { return version_cmp(a, b, false); }

}  // extern "C"
