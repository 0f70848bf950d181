/* The resample filter's interface, shared by the filter library and the
 * clients that load it. */
#ifndef TARVO_MIRROW_MIRROW_H
#define TARVO_MIRROW_MIRROW_H

#include <tarvo_dshow/dshow.h>

TARVO_GUID(CLSID_ResampleFilter, 0x845A578B, 0x836A, 0x41F9, 0xA2, 0x2A, 0xD1, 0xE3, 0x1F, 0x26, 0xB1, 0xED);
TARVO_GUID(CLSID_ResamplePropertyPage, 0x292F3AD6, 0x5FBB, 0x4405, 0xAE, 0x60, 0x8F, 0xFE, 0x01, 0x14, 0x58, 0x02);
TARVO_GUID(IID_IResampleSettings, 0xE90BBAD3, 0x26B6, 0x47D3, 0xA0, 0xF2, 0xD0, 0x6A, 0xF6, 0xA6, 0x3C, 0x19);

/* Plain values, read when the output pin connects and when streaming
 * starts; set them before connecting. */
class IResampleSettings : public IUnknown {
 public:
  virtual HRESULT GetBitsPerSample(int *bits) = 0;
  /* 8, 16, 20, 24, or 32 for 32-bit float. */
  virtual HRESULT SetBitsPerSample(int bits) = 0;
  virtual HRESULT GetSampleRate(int *rate) = 0;
  virtual HRESULT SetSampleRate(int rate) = 0;
  virtual HRESULT GetFilterHalfLength(int *half) = 0;
  virtual HRESULT SetFilterHalfLength(int half) = 0;
  virtual HRESULT GetChannels(int *channels) = 0;
  /* Data are converted between 1 and 2 channels only; 3 or more changes
   * the output type alone. */
  virtual HRESULT SetChannels(int channels) = 0;
};

#endif
