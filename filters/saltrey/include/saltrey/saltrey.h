/* The downmix filter's settings record, as the filter and its clients
 * share it. */
#ifndef TARVO_SALTREY_SALTREY_H
#define TARVO_SALTREY_SALTREY_H

#include <cstdint>

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
