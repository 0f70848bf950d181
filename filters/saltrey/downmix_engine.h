/* The downmix engine: the matrix built from a settings record, and the
 * mixer that turns interleaved frames of up to six channels into stereo of
 * the same sample format (8-, 16- and 24-bit integer, 32-bit float). */
#ifndef TARVO_SALTREY_DOWNMIX_ENGINE_H
#define TARVO_SALTREY_DOWNMIX_ENGINE_H

#include <saltrey/saltrey.h>
#include <tarvo_com/com_wave.h>

#include <cstddef>

/* Source channels in channel-mask order. */
enum { DM_FL, DM_FR, DM_FC, DM_LFE, DM_BL, DM_BR, DM_CHANNELS };
enum { DM_METHOD_LORO, DM_METHOD_LTRT, DM_METHOD_CUSTOM, DM_METHOD_NONE };

struct DownmixMatrix {
  float left_gain[DM_CHANNELS], right_gain[DM_CHANNELS];
  int left_sign[DM_CHANNELS], right_sign[DM_CHANNELS];
  int present[DM_CHANNELS];
};

/* Level code 0-4 as a gain (0 muted, 1 0 dB, 2 -3, 3 -4.4, 4 -6 dB). */
double downmix_level_gain(int code);
/* Gain index 0-255 as a gain (0 muted, 1 0 dB, 16 -3 dB, ...). */
double downmix_index_gain(int index);
/* The mask a format without one implies for its channel count. */
uint32_t downmix_default_mask(int channels);

/* Rows from the record; method None leaves *m as it is.  The present flags
 * are not touched. */
void downmix_build_matrix(const DownmixSettings *s, DownmixMatrix *m);
/* Present flags from a channel mask (0: the channel count's default). */
void downmix_present_from_mask(uint32_t mask, int channels, DownmixMatrix *m);

class DownmixMixer {
 public:
  /* Formats must agree in sample format; output has two channels. */
  DownmixMixer(const WAVEFORMATEX &in, const WAVEFORMATEX &out);
  /* Takes the gains clamped to [0, 1], the signs as +1 or -1 and the flags
   * as 0 or 1. */
  void SetMatrix(const DownmixMatrix &m);
  /* frames interleaved input frames to frames stereo output frames. */
  void Mix(const BYTE *in, size_t frames, BYTE *out) const;

 private:
  long double Read(const BYTE *p) const;
  void Write(BYTE *p, long double v) const;
  void Pass(const BYTE *in, size_t frames, BYTE *out, const float *gain, const int *sign) const;

  int m_inChannels, m_bytes;
  DownmixMatrix m_m;
};

#endif
