// A small MPEG-2 program stream for time-seek tests: one unit per 100 ms,
// each a pack header and a video packet with a PTS (the first 1 s on the
// stream's clock) and a GOP header, unit bytes long.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo_test {

inline std::string ps_stream(uint32_t units, uint32_t unit)
{
  std::string s;
  for (uint32_t i = 0; i < units; i++) {
    uint64_t pts = 90000 + uint64_t(i) * 9000;
    std::string pack = {0, 0, 1, char(0xBA), 0x44, 0, 4, 0, 4, 1, 1, char(0x89), char(0xC3), char(0xF8)};
    std::string pes = {char(0x80), char(0x80), 5, char(0x21 | ((pts >> 29) & 0x0E)), char(pts >> 22),
                       char(((pts >> 14) & 0xFE) | 1), char(pts >> 7), char(((pts << 1) & 0xFE) | 1),
                       0, 0, 1, char(0xB8)};
    pes.resize(unit - pack.size() - 6, char(0xFF));
    s += pack + std::string{0, 0, 1, char(0xE0), char(pes.size() >> 8), char(pes.size() & 0xFF)} + pes;
  }
  return s;
}

}  // namespace tarvo_test
