// The heap shape of a measuring/filling conversion.
#pragma once

#include <tarvo_util/sys_alloc.h>

#include <cstdint>

namespace tarvo {

// Measures with convert(NULL, 0, &n), allocates n + extra units of unit
// bytes, fills with convert(buf, n + extra, &n) and hands the buffer over.
template <class T, class F> int measure_and_fill(F convert, uint32_t unit, uint32_t extra, T **out)
{
  uint32_t n;
  if (!convert(nullptr, 0, &n) || n > UINT32_MAX - extra) return 0;
  T *b = static_cast<T *>(sys_alloc((size_t(n) + extra) * unit));
  if (!b) return 0;
  if (!convert(b, n + extra, &n)) {
    sys_alloc_free(b);
    return 0;
  }
  *out = b;
  return 1;
}

}  // namespace tarvo
