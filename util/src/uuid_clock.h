// The clock sequence and timestamp of time-based UUIDs, apart from the
// system clock so that the rules can be driven with any time.
#pragma once

#include <cstdint>

namespace tarvo_uuid {

constexpr uint64_t TICKS_PER_MS = 10000;
constexpr uint32_t CLOCK_SEQ_SPAN = 0x2000;

struct clock_rec {
  uint16_t seq;
  bool seq_chosen;
  // Each timestamp is given with at most CLOCK_SEQ_SPAN clock sequences,
  // the first of them first_seq.
  uint64_t last_ts;
  uint16_t first_seq;
};

// Takes the next clock sequence (initial on the first call) into c->seq and
// returns the timestamp to give with it, for the time now (100 ns units,
// millisecond resolution).
uint64_t clock_next(clock_rec *c, uint64_t now, uint16_t initial);

}  // namespace tarvo_uuid
