/* The downmix filter's settings record, as the filter and its clients
 * share it. */
#ifndef TARVO_SALTREY_SALTREY_H
#define TARVO_SALTREY_SALTREY_H

#include <tarvo_com/com.h>

#include <cstdint>

TARVO_GUID(CLSID_DownmixFilter, 0x0B7AD138, 0xD072, 0x48BC, 0x89, 0x5D, 0xC5, 0x47, 0x79, 0x97, 0x30, 0xE4);
TARVO_GUID(IID_IDownmixSettings, 0xB6BFECA1, 0xB21C, 0x49B7, 0x86, 0x81, 0x96, 0xD5, 0x2C, 0x6A, 0xA2, 0x8F);

/* Methods, level codes and gain indexes are told in downmix_engine.h.  The
 * gains run front left, front right, front centre, LFE, back left, back
 * right; the phase flags left, right, centre, surround left, surround
 * right, LFE. */
struct DownmixSettings {
  int32_t method;
  int32_t loro_center, loro_surround, loro_lfe;
  int32_t ltrt_center, ltrt_surround, ltrt_lfe;
  int32_t left_gain[6];
  int32_t right_gain[6];
  int32_t left_phase[6];
  int32_t right_phase[6];
};
static_assert(sizeof(DownmixSettings) == 124, "the record is 31 fields");

#endif
