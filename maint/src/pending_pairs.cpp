// The pending-rename list's pair walker.
#include <tarvo_maint/pending_pairs.h>

#include <cstring>
#include <vector>

namespace {

const uint16_t slash = '/';

uint16_t unit_at(const uint8_t *in, uint32_t size, uint32_t i)
{
  // An odd last byte is the low half of a unit whose high half is zero, as
  // in the zero-filled buffer the list is read into.
  uint8_t lo = 2 * i < size ? in[2 * i] : 0;
  uint8_t hi = 2 * i + 1 < size ? in[2 * i + 1] : 0;
  return uint16_t(lo | hi << 8);
}

// Length in units of the name starting at unit i (up to its NUL or the end
// of the data).
uint32_t name_length(const uint8_t *in, uint32_t units, uint32_t size, uint32_t i)
{
  uint32_t n = 0;
  while (i + n < units && unit_at(in, size, i + n) != 0) ++n;
  return n;
}

bool name_matches_any(const uint8_t *in, uint32_t size, uint32_t start, uint32_t n, const uint16_t *const *paths,
                      uint32_t count)
{
  std::vector<uint16_t> name(n);
  for (uint32_t k = 0; k < n; ++k) name[k] = unit_at(in, size, start + k);
  for (uint32_t p = 0; p < count; ++p) {
    uint32_t m = 0;
    while (paths[p][m]) ++m;
    if (pending_name_matches(name.data(), n, paths[p], m)) return true;
  }
  return false;
}

void put_name(const uint8_t *in, uint32_t size, uint32_t start, uint32_t n, uint8_t *out, uint32_t *at)
{
  for (uint32_t k = 0; k < n; ++k) {
    uint16_t u = unit_at(in, size, start + k);
    out[(*at)++] = uint8_t(u);
    out[(*at)++] = uint8_t(u >> 8);
  }
  out[(*at)++] = 0;
  out[(*at)++] = 0;
}

}  // namespace

extern "C" {

int pending_name_matches(const uint16_t *name, uint32_t n, const uint16_t *path, uint32_t m)
{
  if (m == 0 || m > n) return 0;
  for (uint32_t i = 0; i + m <= n; ++i) {
    if (std::memcmp(name + i, path, m * sizeof(uint16_t))) continue;
    // "…/Tarvo2/…" does not lie under "…/Tarvo".
    if (i + m == n || name[i + m] == slash) return 1;
  }
  return 0;
}

uint32_t pending_pairs_filter(const uint8_t *in, uint32_t size, const uint16_t *const *paths, uint32_t path_count,
                              uint8_t *out, uint32_t *out_size, uint32_t *dropped)
{
  uint32_t units = (size + 1) / 2, i = 0, kept = 0, at = 0;
  *dropped = 0;
  while (i < units) {
    uint32_t src = i, src_n = name_length(in, units, size, i);
    if (src_n == 0) break;
    i += src_n + 1;
    uint32_t dst = i, dst_n = i < units ? name_length(in, units, size, i) : 0;
    i += dst_n + 1;
    if (name_matches_any(in, size, src, src_n, paths, path_count) ||
        name_matches_any(in, size, dst, dst_n, paths, path_count)) {
      ++*dropped;
      continue;
    }
    put_name(in, size, src, src_n, out, &at);
    put_name(in, size, dst, dst_n, out, &at);
    ++kept;
  }
  out[at++] = 0;
  out[at++] = 0;
  *out_size = at;
  return kept;
}

}  // extern "C"
