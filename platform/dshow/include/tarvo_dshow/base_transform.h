/* The seeking pass-through, and the transform filter: one input pin
 * "XForm In" and one output pin "XForm Out", one output sample made from
 * each input sample. */
#ifndef TARVO_DSHOW_BASE_TRANSFORM_H
#define TARVO_DSHOW_BASE_TRANSFORM_H

#include <tarvo_dshow/base_filter.h>

/* Answers IMediaSeeking by asking the filter upstream of pin: the peer of
 * the given input pin.  Not connected: E_NOTIMPL. */
class CPosPassThru : public CUnknown, public IMediaSeeking {
 public:
  CPosPassThru(const char *name, LPUNKNOWN outer, HRESULT *phr, IPin *pin);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

  HRESULT GetCapabilities(DWORD *caps) override;
  HRESULT CheckCapabilities(DWORD *caps) override;
  HRESULT IsFormatSupported(const GUID *format) override;
  HRESULT QueryPreferredFormat(GUID *format) override;
  HRESULT GetTimeFormat(GUID *format) override;
  HRESULT IsUsingTimeFormat(const GUID *format) override;
  HRESULT SetTimeFormat(const GUID *format) override;
  HRESULT GetDuration(LONGLONG *duration) override;
  HRESULT GetStopPosition(LONGLONG *stop) override;
  HRESULT GetCurrentPosition(LONGLONG *current) override;
  HRESULT ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                            const GUID *sourceFormat) override;
  HRESULT SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG *current, LONGLONG *stop) override;
  HRESULT GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double *rate) override;
  HRESULT GetPreroll(LONGLONG *preroll) override;

 protected:
  /* The upstream filter's seeking, referenced. */
  HRESULT GetPeerSeeking(IMediaSeeking **seeking);

 private:
  IPin *m_pPin;  // not referenced: it belongs to the same filter
};

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(const char *objectName, CTransformFilter *filter, HRESULT *phr, LPCWSTR name);
  HRESULT QueryId(LPWSTR *id) override;
  HRESULT CheckConnect(IPin *pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin *receivePin) override;
  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT SetMediaType(const CMediaType *pmt) override;
  HRESULT CheckStreaming() override;
  HRESULT Receive(IMediaSample *sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 protected:
  CTransformFilter *m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(const char *objectName, CTransformFilter *filter, HRESULT *phr, LPCWSTR name);
  ~CTransformOutputPin() override;
  /* IMediaSeeking through a pass-through to the input's upstream. */
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
  HRESULT QueryId(LPWSTR *id) override;
  HRESULT CheckConnect(IPin *pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin *receivePin) override;
  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT SetMediaType(const CMediaType *pmt) override;
  HRESULT GetMediaType(int position, CMediaType *pmt) override;
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override;

 protected:
  CTransformFilter *m_pTransformFilter;
  CCritSec m_csPosition;
  CPosPassThru *m_pPosition = nullptr;
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const char *name, LPUNKNOWN outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  /* The pins are made on first demand: 0 input, 1 output. */
  CBasePin *GetPin(int n) override;
  /* Also answers "In" and "Out". */
  HRESULT FindPin(LPCWSTR id, IPin **pin) override;
  /* The input goes inactive first, then, with the receive lock, the
   * output, and streaming stops. */
  HRESULT Stop() override;
  HRESULT Pause() override;

  virtual HRESULT Transform(IMediaSample *in, IMediaSample *out) = 0;
  virtual HRESULT CheckInputType(const CMediaType *in) = 0;
  virtual HRESULT CheckTransform(const CMediaType *in, const CMediaType *out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType *pmt) = 0;

  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  virtual HRESULT SetMediaType(PIN_DIRECTION, const CMediaType *) { return S_OK; }
  virtual HRESULT CheckConnect(PIN_DIRECTION, IPin *) { return S_OK; }
  virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
  virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin *) { return S_OK; }

  /* Called with the receive lock by the input pin. */
  virtual HRESULT Receive(IMediaSample *sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  CTransformInputPin *InputPin() { return m_pInput; }
  CTransformOutputPin *OutputPin() { return m_pOutput; }

 protected:
  /* An output buffer carrying the input's times and flags. */
  virtual HRESULT InitializeOutputSample(IMediaSample *in, IMediaSample **out);
  /* The two pins, made once by GetPin: "XForm In" and "XForm Out" unless a
   * filter names or extends them itself. */
  virtual CTransformInputPin *NewInputPin(HRESULT *phr);
  virtual CTransformOutputPin *NewOutputPin(HRESULT *phr);

  friend class CTransformInputPin;
  friend class CTransformOutputPin;

  bool m_bEOSDelivered = false;
  std::atomic<bool> m_bSampleSkipped{false};
  CCritSec m_csFilter;
  CCritSec m_csReceive;
  CTransformInputPin *m_pInput = nullptr;
  CTransformOutputPin *m_pOutput = nullptr;
};

#endif
