/* The MPEG audio stream parser of the MP3 parser filter: it finds the audio
 * behind RIFF wrappers and ID3 tags, locks onto frame sync, reads the two
 * kinds of VBR header, builds the output format, answers duration and seek
 * positions, and cuts the pending bytes into timed frames. */
#ifndef TARVO_QUORRIN_MP3_STREAM_H
#define TARVO_QUORRIN_MP3_STREAM_H

#include <tarvo_dshow/dshow.h>

#include <cstddef>
#include <cstdint>
#include <vector>

/* One decoded frame header; valid is false for anything the tables refuse. */
struct Mp3FrameHeader {
  bool valid;
  int version;  // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
  int layer;    // 1, 2 or 3
  int bitrate;  // bits per second
  int sample_rate;
  int padding;
  int channel_mode;  // 3 = single channel
  int frame_bytes;
  int samples;  // per frame
  REFERENCE_TIME duration;  // 100 ns units
};

Mp3FrameHeader mp3_frame_header(uint32_t h);
/* The header at p (4 bytes there). */
uint32_t mp3_read_be32(const BYTE *p);

/* Where a RIFF wrapper puts the audio: [start, end) and, for WAVE, its
 * format zero-padded to at least 18 bytes. */
struct Mp3Riff {
  int64_t start;
  int64_t end;
  std::vector<BYTE> format;
};
/* S_FALSE when data is no RIFF file, S_OK with *out filled, or
 * VFW_E_TYPE_NOT_ACCEPTED. */
HRESULT mp3_riff_walk(const BYTE *data, size_t length, Mp3Riff *out);

/* What the parser reads from: a byte source of known or growing length. */
class Mp3Source {
 public:
  virtual ~Mp3Source() = default;
  /* S_OK only when all length bytes were read. */
  virtual HRESULT Read(LONGLONG position, LONG length, BYTE *buffer) = 0;
  virtual HRESULT Length(LONGLONG *total, LONGLONG *available) = 0;
};

/* The filter side of the parser. */
class Mp3StreamSink {
 public:
  virtual ~Mp3StreamSink() = default;
  /* Makes the output pin for the one type: the wave format block; a block
   * align of 1 means variable-size samples. */
  virtual HRESULT CreateOutputPin(const BYTE *format, ULONG length) = 0;
  virtual HRESULT DeliverFrame(const BYTE *data, LONG length, REFERENCE_TIME time) = 0;
};

class Mp3StreamParser {
 public:
  explicit Mp3StreamParser(Mp3StreamSink *sink) : m_sink(sink) {}

  void SetDeclaredDuration(REFERENCE_TIME d) { m_declared = d; }
  HRESULT Open(Mp3Source *source);
  void AdjustAllocatorProperties(ALLOCATOR_PROPERTIES *) {}
  REFERENCE_TIME Duration() const;
  bool Seekable() const;
  /* The byte position to read from for time *t (NULL: none). */
  LONGLONG TimeToPosition(const REFERENCE_TIME *t) const;
  /* Re-reads the end while the source is still growing. */
  void CheckEnd(Mp3Source *source);
  void Reset(REFERENCE_TIME start, REFERENCE_TIME stop);
  /* Frames out of the pending bytes; *consumed bytes may be dropped. S_FALSE
   * ends the stream. */
  HRESULT Receive(const BYTE *data, LONG length, LONG *consumed);

  bool LengthKnown() const { return m_lengthKnown; }
  int64_t StartOffset() const { return m_start; }
  int64_t EndOffset() const { return m_end; }
  const std::vector<BYTE> &Format() const { return m_format; }
  int BitRate() const { return m_bitrate; }
  uint32_t FirstHeader() const { return m_firstHeader; }

 private:
  bool ReadVbri(const BYTE *p, size_t avail, const Mp3FrameHeader &fh);
  bool ReadXing(const BYTE *p, size_t avail, const Mp3FrameHeader &fh);
  REFERENCE_TIME ComputedDuration() const;
  void BuildFormat(const Mp3FrameHeader &fh);

  Mp3StreamSink *m_sink;
  uint32_t m_firstHeader = 0;
  int64_t m_start = 0, m_end = 0x7FFFFFFF, m_trailing = 0;
  int m_bitrate = 0;
  bool m_lengthKnown = false, m_vbri = false, m_xing = false, m_locked = false;
  struct {
    int sample_rate, samples;
    uint32_t flags, frames, bytes;
    int quality;
    BYTE toc[100];
  } m_x{};
  struct {
    int sample_rate, samples;
    int version, delay, quality;
    uint32_t bytes, frames;
    int entries, scale, entry_size, frames_per_entry;
    std::vector<int64_t> table;
  } m_v{};
  std::vector<BYTE> m_format;
  REFERENCE_TIME m_declared = -1;
  REFERENCE_TIME m_time = 0, m_winStart = 0, m_winStop = INT64_MAX;
  int64_t m_unsynced = 0;
};

#endif
