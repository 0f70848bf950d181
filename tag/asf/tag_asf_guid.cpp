// The GUIDs by which the ASF header walk tells objects, stream types and
// the media types of binary-media streams apart, and the table that
// decides what a binary-media stream is.  Only the positions that the walk
// and the format table act on are listed: any other GUID falls to the
// same default as an unknown one.
#include <array>
#include <cstring>

#include "tag_asf_impl.h"

namespace {

using bytes16 = std::array<unsigned char, 16>;

consteval unsigned hex(char c)
{
  return c <= '9' ? unsigned(c - '0') : c <= 'F' ? unsigned(c - 'A' + 10) : unsigned(c - 'a' + 10);
}

// The 16 stored bytes of a GUID written 8-4-4-4-12: the first three groups
// little-endian, the last two as they stand.
consteval bytes16 g(const char (&s)[37])
{
  constexpr int kAt[16] = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};
  bytes16 b{};
  for (int i = 0; i < 16; i++) b[size_t(i)] = (unsigned char)(hex(s[kAt[i]]) << 4 | hex(s[kAt[i] + 1]));
  return b;
}

struct entry {
  int position;
  bytes16 id;
};

const entry kObjects[] = {
    {0, g("75B22630-668E-11CF-A6D9-00AA0062CE6C")},   // Header
    {1, g("75B22636-668E-11CF-A6D9-00AA0062CE6C")},   // Data
    {2, g("33000890-E5B1-11CF-89F4-00A0C90349CB")},   // Simple Index
    {3, g("D6E229D3-35DA-11D1-9034-00A0C90349BE")},   // Index
    {4, g("FEB103F8-12AD-4C64-840F-2A1D2F7AD48C")},   // Media Object Index
    {5, g("3CB73FD0-0C4A-4803-953D-EDF7B6228F0C")},   // Timecode Index
    {6, g("8CABDCA1-A947-11CF-8EE4-00C00C205365")},   // File Properties
    {7, g("B7DC0791-A9B7-11CF-8EE6-00C00C205365")},   // Stream Properties
    {8, g("5FBF03B5-A92E-11CF-8EE3-00C00C205365")},   // Header Extension
    {9, g("86D15240-311D-11D0-A3A4-00A0C90348F6")},   // Codec List
    {14, g("75B22633-668E-11CF-A6D9-00AA0062CE6C")},  // Content Description
    {15, g("D2D0A440-E307-11D2-97F0-00A0C95EA850")},  // Extended Content Description
    {17, g("7BF875CE-468D-11D1-8D82-006097C9A2B2")},  // Stream Bitrate Properties
    {22, g("14E6A5CB-C672-4332-8399-A96952065B5A")},  // Extended Stream Properties
    {29, g("44231C94-9498-49D1-A141-1D134E457054")},  // Metadata Library
    {37, g("F8699E40-5B4D-11CF-A8FD-00805F5C442B")},  // Audio Media
    {38, g("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B")},  // Video Media
    {43, g("3AFB65E2-47EF-40F2-AC2C-70A90D71D343")},  // Binary Media
};

const entry kMediaTypes[] = {
    {0, g("73646976-0000-0010-8000-00AA00389B71")},   // major type: video
    {1, g("73647561-0000-0010-8000-00AA00389B71")},   // audio
    {2, g("73747874-0000-0010-8000-00AA00389B71")},   // text
    {3, g("7364696D-0000-0010-8000-00AA00389B71")},   // MIDI
    {4, g("E436EB83-524F-11CE-9F53-0020AF0BA770")},   // byte stream
    {6, g("656C6966-0000-0010-8000-00AA00389B71")},   // file
    {7, g("73636D64-0000-0010-8000-00AA00389B71")},   // script command
    {8, g("670AEA80-3A82-11D0-B79B-00AA003767A7")},   // line 21 data
    {9, g("0482DEE3-7817-11CF-8A03-00AA006ECB65")},   // timecode
    {10, g("31178C9D-03E1-4528-B582-3DF9DB22F503")},  // audio carried in a recording
    {41, g("E436EB81-524F-11CE-9F53-0020AF0BA770")},  // subtype: MPEG-1 payload
    {45, g("E436EB85-524F-11CE-9F53-0020AF0BA770")},  // MPEG-1 video CD
    {46, g("E436EB86-524F-11CE-9F53-0020AF0BA770")},  // MPEG-1 video
    {62, g("6E8D4A22-310C-11D0-B79A-00AA003767A7")},  // line 21 byte pairs
    {69, g("0F6417D6-C318-11D0-A43F-00A0C9223196")},  // format: none
    {72, g("05589F81-C356-11CE-BF01-00AA0055595A")},  // format: WAVEFORMATEX
};

// C4C4C4D0-0049-4E2B-98FB-9537F6CE516D to C4C4C4DF-...: the first stored
// byte runs from D0 to DF.
constexpr bytes16 kWrappedBase = g("C4C4C4D0-0049-4E2B-98FB-9537F6CE516D");

constexpr int kAny = -1;

struct binary_row {
  int major, subtype, format;
  asf::binary_outcome outcome;
};

// Tried in order; the first matching row decides.
const binary_row kBinaryFormats[] = {
    {10, 41, 72, asf::kBinaryAudio},         {8, 62, 69, asf::kBinaryIgnored},
    {0, kAny, kAny, asf::kBinaryFails},      {kAny, kAny, 72, asf::kBinaryAudio},
    {1, kAny, kAny, asf::kBinaryFails},      {2, kAny, kAny, asf::kBinaryIgnored},
    {3, kAny, kAny, asf::kBinaryIgnored},    {4, 46, kAny, asf::kBinaryFails},
    {4, 45, kAny, asf::kBinaryFails},        {6, kAny, kAny, asf::kBinaryIgnored},
    {7, kAny, kAny, asf::kBinaryIgnored},    {8, kAny, kAny, asf::kBinaryIgnored},
    {9, kAny, kAny, asf::kBinaryIgnored},    {kAny, kAny, kAny, asf::kBinaryFails},
};

template <size_t N>
int position_in(const entry (&table)[N], const unsigned char *id)
{
  for (const entry &e : table)
    if (std::memcmp(e.id.data(), id, 16) == 0) return e.position;
  return -1;
}

bool fits(int row, int value) { return row == kAny || row == value; }

}  // namespace

namespace asf {

int object_position(const unsigned char *id) { return position_in(kObjects, id); }
int media_position(const unsigned char *id) { return position_in(kMediaTypes, id); }

bool is_wrapped_type(const unsigned char *id)
{
  return (id[0] & 0xF0) == 0xD0 && std::memcmp(id + 1, kWrappedBase.data() + 1, 15) == 0;
}

binary_outcome binary_format(int major, int subtype, int format)
{
  for (const binary_row &r : kBinaryFormats)
    if (fits(r.major, major) && fits(r.subtype, subtype) && fits(r.format, format)) return r.outcome;
  return kBinaryFails;
}

}  // namespace asf
