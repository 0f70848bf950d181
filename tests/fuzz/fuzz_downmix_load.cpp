// links: saltrey_core tarvo_com
// The downmix settings block loaded from arbitrary bytes: a load that
// succeeds leaves every field in its range.
#include "downmix_settings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  IStream *s = nullptr;
  if (CreateStreamOnHGlobal(nullptr, TRUE, &s) != S_OK) return 0;
  ULONG put = 0;
  if (size) s->Write(data, ULONG(size), &put);
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  DownmixSettingsObject o;
  if (o.Load(s) == S_OK) {
    for (int k = 0; k < DOWNMIX_FIELDS; k++) {
      int f = downmix_accessor_field(k);
      if (o.GetField(k) != downmix_clamp_field(f, o.GetField(k))) std::abort();
    }
  }
  s->Release();
  return 0;
}
