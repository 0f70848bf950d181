// The decoder filters' common part: a transform filter that turns each
// compressed input sample into any amount of 16-bit PCM through the FFmpeg
// glue, delivered in buffers of the output allocator and timed by the
// frames decoded since the last discontinuity.  PCM before the segment's
// start (time 0) is dropped, so that a seek that started early is exact.
#ifndef TARVO_DSHOW_SYS_DECODER_H
#define TARVO_DSHOW_SYS_DECODER_H

#include "ffmpeg_glue.h"

#include <tarvo_dshow/base_transform.h>

#include <vector>

class SysDecoderFilter : public CTransformFilter {
 public:
  SysDecoderFilter(const char *name, LPUNKNOWN outer, REFCLSID clsid) : CTransformFilter(name, outer, clsid) {}
  ~SysDecoderFilter() override { ff_decoder_close(&m_dec); }

  HRESULT CheckInputType(const CMediaType *in) override;
  HRESULT CheckTransform(const CMediaType *in, const CMediaType *out) override;
  HRESULT GetMediaType(int position, CMediaType *pmt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override;
  HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;

 protected:
  /* 1 when this decoder takes the format tag. */
  virtual int TakesTag(WORD tag) = 0;
  /* The PCM's channels for an input of `channels`. */
  virtual WORD OutputChannels(WORD channels) { return channels; }

 private:
  HRESULT PcmType(const CMediaType *in, CMediaType *pmt);
  HRESULT DeliverPcm();

  FfDecoder m_dec;
  std::vector<BYTE> m_pcm;
  REFERENCE_TIME m_base = 0;
  LONGLONG m_frames = 0;
  LONG m_frameBytes = 4;
  bool m_resync = true;
  bool m_discontinuity = true;  // the next PCM delivered follows a break
};

#endif
