/* The resample engine (windowed-sinc conversion of interleaved PCM between
 * two sampling rates, keeping width and channels), in a single-precision
 * and an extended-precision variant, and the channel and sample-depth
 * converters that run beside it. */
#ifndef TARVO_MIRROW_MIRROW_ENGINE_H
#define TARVO_MIRROW_MIRROW_ENGINE_H

#include <tarvo_com/com_wave.h>

#include <cstdint>
#include <vector>

class ResampleEngine {
 public:
  /* Formats as the engine sees them: the input's width on both sides. */
  ResampleEngine(const WAVEFORMATEX *in, const WAVEFORMATEX *out, int inBytes, int outBytes);
  virtual ~ResampleEngine();
  /* Converts frames input frames; writes at most maxOut frames to output
   * (further ones are dropped) and reports those written. */
  virtual void Process(const BYTE *input, uint32_t frames, BYTE *output, uint32_t maxOut, uint32_t *written);
  /* S_OK, or E_OUTOFMEMORY with no buffers left. */
  virtual HRESULT Initialise();
  virtual void SetFilterHalfLength(int c) { m_half = c; }
  virtual void FreeBuffers();
  virtual uint32_t BlockSize() const { return 1024; }
  /* Output frames from the staged input into the staging output. */
  virtual void ProcessBlock(uint32_t *written) = 0;

  /* Derived at initialisation. */
  int Taps() const { return m_T; }
  uint32_t Capacity() const { return m_U; }
  double Scale() const { return m_s; }
  double Span() const { return m_span; }
  int HalfLength() const { return m_c; }

 protected:
  void Stage(const BYTE *chunk, uint32_t frames);
  /* Where output frame n sits among the input frames, and its first tap. */
  double Position(int64_t n) const { return double(n) * m_Ri / m_Ro; }
  /* Whether the taps of the next output frame, at t, have all arrived. */
  bool NextReady(double t) const;
  void StoreFrame(const double *acc);
  /* One output frame's taps k0..k1 over the input frames from x, at the
   * offset d = J - t of its first tap. */
  struct TapRun {
    double d;
    const float *x;
    int k0, k1;
  };
  /* Output frames taken kBatch at a time, so that their sums can run side
   * by side; batch(runs, n, acc) sums n frames into acc[i][channel]. */
  static constexpr int kBatch = 4;
  template <class Batch>
  void Walk(uint32_t *written, Batch batch);
  /* The single-precision tap weights of offset d, from the weight cache when
   * this ratio's offsets repeat, else made in scratch; stereo weights come
   * in pairs, one a channel. */
  const float *SingleWeights(float d, float *scratch);

  const WAVEFORMATEX *m_in, *m_out;
  int m_b;           // bytes per sample, the input's on both sides
  int m_ch = 0;
  int m_half = 8;    // the setting
  int m_c = 8;       // after the upsampling rule
  double m_Ri = 0, m_Ro = 0, m_ratio = 0, m_s = 0, m_span = 0;
  int m_T = 0;
  uint32_t m_U = 0;
  std::vector<float> m_sin, m_cos, m_wsin, m_wcos;  // tables of T values
  std::vector<float> m_fin;    // buffered input frames as floats
  std::vector<BYTE> m_rawOut;  // one block's output frames
  std::vector<float> m_wf;        // a batch's tap weights, when not cached
  std::vector<long double> m_wl;
  /* Weights of the offsets seen so far, by the offset's bits: a rational
   * ratio repeats its offsets every Ro / gcd(Ri, Ro) output frames. */
  std::vector<uint32_t> m_cacheKey;  // per slot, kNoKey when empty
  std::vector<uint32_t> m_cacheAt;   // per slot, the entry's first weight
  std::vector<float> m_cache;        // the entries' weights
  uint32_t m_cacheUsed = 0, m_stride = 0;
  uint32_t m_rawOutFrames = 0, m_staged = 0;
  int64_t m_next = 0;       // the next output frame since the stream began
  int64_t m_delivered = 0;  // output frames handed out
  int64_t m_first = 0;      // input index of m_fin's first frame
  int64_t m_count = 0;      // frames in m_fin
  bool m_started = false;
};

/* Single precision with the reciprocals of c and s kept; for processors
 * with SSE2. */
class ResampleEngineSse2 final : public ResampleEngine {
 public:
  using ResampleEngine::ResampleEngine;
  void ProcessBlock(uint32_t *written) override;
};

/* Extended precision throughout, float tables. */
class ResampleEngineFpu final : public ResampleEngine {
 public:
  using ResampleEngine::ResampleEngine;
  void ProcessBlock(uint32_t *written) override;

 private:
  void Extended(const TapRun &run, double *acc);
};

/* The variant for this processor, or NULL when out of memory. */
ResampleEngine *resample_engine_new(const WAVEFORMATEX *in, const WAVEFORMATEX *out, int inBytes, int outBytes);

/* Stereo to mono (0.5 L + 0.5 R, in the engine's scale) and mono to stereo
 * in place; b is bytes per sample. */
void mirrow_mix_to_mono(const BYTE *input, uint32_t frames, BYTE *output, int b);
void mirrow_duplicate_to_stereo(BYTE *buffer, uint32_t frames, int b);
/* Converts samples in place from inBytes to outBytes per sample (1, 2, 3
 * integer or 4 float); narrowing runs forwards, widening backwards. */
void mirrow_convert_depth(BYTE *buffer, uint32_t samples, int inBytes, int outBytes);

#endif
