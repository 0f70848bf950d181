// Internal to the ASF readers: the WMTag record that the header walk fills,
// the GUID tables it classifies objects and media types by, and the
// summaries that the item reader draws from a WMTag.
#pragma once

#include <tarvo_tag/tag_asf.h>
#include <tarvo_util/sys_alloc.h>

#include <cstdint>

namespace asf {

// The ASF attribute value types.
enum value_type : uint16_t { kUnicode = 0, kBytes = 1, kBool = 2, kDword = 3, kQword = 4, kWord = 5, kGuid = 6 };

struct attribute {
  char *name;     // UTF-8; NULL for a descriptor without a value
  uint16_t type;  // value_type
  uint16_t len;   // bytes as stored
  // As stored: UTF-16LE text, or a little-endian number of types 2 to 5.
  unsigned char *bytes;
};

struct bitrate {
  uint32_t stream;
  uint32_t average;
};

// Positions of the stream types in the object table.
enum stream_kind : uint32_t { kAudio = 37, kVideo = 38 };

struct stream {
  uint32_t kind;  // stream_kind
  uint32_t number;
  // Audio: the WAVEFORMATEX fields.
  uint16_t format_tag;
  uint32_t samples_per_second;
  uint32_t bytes_per_second;
  uint16_t channels;
  uint16_t block_align;
  uint16_t bits_per_sample;
  // Video: the encoded size, the BITMAPINFOHEADER compression code and the
  // first 4 bytes of the codec-specific data (zero when there are fewer).
  uint32_t width;
  uint32_t height;
  uint32_t compression;
  unsigned char codec_data[4];
};

struct codec {
  uint16_t type;
  char *name;
  char *description;
};

}  // namespace asf

struct WMTag {
  sys_ptralloc_rec attributes;  // asf::attribute *
  sys_ptralloc_rec bitrates;    // asf::bitrate *
  sys_ptralloc_rec streams;     // asf::stream *
  sys_ptralloc_rec codecs;      // asf::codec *
  uint64_t duration;            // 100 ns units, preroll removed; 0 unknown
  uint32_t max_bitrate;         // bits per second
  char collection_id[37];       // "" when the file has none
};

namespace asf {

using guid = unsigned char[16];

// Position of an ASF object or stream type GUID in the object table, or -1.
int object_position(const unsigned char *g);
// Position of a media type, subtype or format type GUID in the media-type
// table, or -1.
int media_position(const unsigned char *g);
// 1 for the GUIDs that stand for a type carried in the format data.
bool is_wrapped_type(const unsigned char *g);

// What a binary-media stream of these media-type positions is.
enum binary_outcome { kBinaryAudio, kBinaryIgnored, kBinaryFails };
binary_outcome binary_format(int major, int subtype, int format);

// The attribute's value as heap UTF-8 text, the last of that name that has
// a text form; NULL when there is none or memory ran out.
char *attribute_text(const WMTag *tag, const char *name);

struct summary {
  uint32_t count;   // streams of the kind
  uint32_t code;    // compression or format tag; 0xFFFFFFFF when none fits
  uint32_t first;   // width, or the audio bitrate in bits per second
  uint32_t second;  // height, or the sample rate
};
summary video_summary(const WMTag *tag);
summary audio_summary(const WMTag *tag);
// The channel count of the first audio stream; 0 without one.
uint32_t channels(const WMTag *tag);

}  // namespace asf
