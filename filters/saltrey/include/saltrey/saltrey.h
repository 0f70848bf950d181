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

TARVO_GUID(IID_IDownmixPresets, 0x36A22460, 0x0CC9, 0x11D0, 0x85, 0x74, 0x00, 0xA0, 0xC9, 0x05, 0x39, 0x12);
TARVO_GUID(CLSID_DownmixPropertyPage, 0xF6FC83B9, 0x35BC, 0x4EBF, 0x8B, 0x74, 0xF8, 0x38, 0x37, 0x3F, 0xA0, 0x14);

/* The 31 accessors in their order: name and position. */
#define DOWNMIX_ACCESSORS(X) \
  X(Method, 0) X(LoRoCenterLevel, 1) X(LoRoSurroundLevel, 2) X(LoRoLfeLevel, 3) X(LtRtCenterLevel, 4) \
  X(LtRtSurroundLevel, 5) X(LtRtLfeLevel, 6) X(LeftGainL, 7) X(LeftGainR, 8) X(LeftGainC, 9) X(LeftGainSL, 10) \
  X(LeftGainSR, 11) X(LeftGainLFE, 12) X(RightGainL, 13) X(RightGainR, 14) X(RightGainC, 15) X(RightGainSL, 16) \
  X(RightGainSR, 17) X(RightGainLFE, 18) X(LeftPhaseL, 19) X(LeftPhaseR, 20) X(LeftPhaseC, 21) \
  X(LeftPhaseSL, 22) X(LeftPhaseSR, 23) X(LeftPhaseLFE, 24) X(RightPhaseL, 25) X(RightPhaseR, 26) \
  X(RightPhaseC, 27) X(RightPhaseSL, 28) X(RightPhaseSR, 29) X(RightPhaseLFE, 30)

struct WAVEFORMATEX;

/* Getters read without the settings lock; setters clamp to the field's
 * range and flag a change only when the value differs. */
class IDownmixSettings : public IUnknown {
 public:
  virtual HRESULT GetSettings(DownmixSettings *out) = 0;
  virtual HRESULT SetSettings(const DownmixSettings *in) = 0;
#define DOWNMIX_GETTER(name, k) virtual HRESULT Get##name(int *value) = 0;
#define DOWNMIX_SETTER(name, k) virtual HRESULT Set##name(int value) = 0;
  DOWNMIX_ACCESSORS(DOWNMIX_GETTER)
  DOWNMIX_ACCESSORS(DOWNMIX_SETTER)
#undef DOWNMIX_GETTER
#undef DOWNMIX_SETTER
  /* pin 0 input, 1 output: the 18-byte header of its wave format. */
  virtual HRESULT GetWaveFormat(WAVEFORMATEX *out, int pin) = 0;
  /* Up to two windows are told of format and settings changes; id 0
   * forgets the window. */
  virtual HRESULT SetNotifyWindow(HWND window, int id) = 0;
};

class IDownmixPresets : public IUnknown {
 public:
  virtual HRESULT GetPresetCount(int *count) = 0;
  virtual HRESULT GetPresetName(int index, WCHAR *name, int chars) = 0;
  virtual HRESULT ApplyPreset(int index) = 0;
};

#endif
