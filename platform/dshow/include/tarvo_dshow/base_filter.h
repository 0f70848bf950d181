/* The base filter and its pins: type agreement between pins, allocator
 * negotiation, the input pin's streaming checks, the rendered input pin's
 * end of stream, and the enumerators of pins and media types. */
#ifndef TARVO_DSHOW_BASE_FILTER_H
#define TARVO_DSHOW_BASE_FILTER_H

#include <tarvo_dshow/base_alloc.h>
#include <tarvo_dshow/base_mtype.h>

class CBaseFilter;
class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter {
 public:
  CBaseFilter(const char *name, LPUNKNOWN outer, CCritSec *lock, REFCLSID clsid, HRESULT *phr = nullptr);
  ~CBaseFilter() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

  HRESULT GetClassID(CLSID *clsid) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD msTimeout, FILTER_STATE *state) override;
  HRESULT SetSyncSource(IReferenceClock *clock) override;
  HRESULT GetSyncSource(IReferenceClock **clock) override;
  HRESULT EnumPins(IEnumPins **pins) override;
  HRESULT FindPin(LPCWSTR id, IPin **pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO *info) override;
  HRESULT JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR *info) override;

  virtual int GetPinCount() = 0;
  virtual CBasePin *GetPin(int n) = 0;

  /* To the graph's event sink; EC_COMPLETE carries this filter. */
  HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  HRESULT ReconnectPin(IPin *pin, const AM_MEDIA_TYPE *pmt);
  bool IsActive();
  bool IsStopped();
  /* Read without the filter lock, so that a streaming thread can ask while
   * a state change waits for it. */
  FILTER_STATE State() const { return m_State; }
  IFilterGraph *GetFilterGraph() { return m_pGraph; }
  virtual LONG GetPinVersion() { return m_PinVersion; }
  void IncrementPinVersion() { m_PinVersion++; }

 protected:
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  IReferenceClock *m_pClock = nullptr;
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CCritSec *m_pLock;
  WCHAR *m_pName = nullptr;
  // Not referenced: the graph holds the filter, not the other way round.
  IFilterGraph *m_pGraph = nullptr;
  std::atomic<IMediaEventSink *> m_pSink{nullptr};
  std::atomic<LONG> m_PinVersion{1};
};

class CBasePin : public CUnknown, public IPin {
 public:
  CBasePin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr, LPCWSTR pinName,
           PIN_DIRECTION dir);
  ~CBasePin() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
  /* A pin lives as long as its filter. */
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  /* With pmt NULL or partly given, the receiving pin's types are tried
   * first, then this pin's own (m_bTryMyTypesFirst turns that round). */
  HRESULT Connect(IPin *receivePin, const AM_MEDIA_TYPE *pmt) override;
  HRESULT ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *pmt) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin **pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE *pmt) override;
  HRESULT QueryPinInfo(PIN_INFO *info) override;
  HRESULT QueryDirection(PIN_DIRECTION *dir) override;
  HRESULT QueryId(LPWSTR *id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE *pmt) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes **types) override;
  HRESULT QueryInternalConnections(IPin **pins, ULONG *count) override;
  HRESULT EndOfStream() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  /* S_OK accepts the type; anything else refuses it. */
  virtual HRESULT CheckMediaType(const CMediaType *pmt) = 0;
  virtual HRESULT SetMediaType(const CMediaType *pmt);
  virtual HRESULT CheckConnect(IPin *pin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin *receivePin);
  /* The pin's own types in order; VFW_S_NO_MORE_ITEMS past the last. */
  virtual HRESULT GetMediaType(int position, CMediaType *pmt);
  virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
  void IncrementTypeVersion() { m_TypeVersion++; }
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive() { return S_OK; }
  virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }

  bool IsConnected() const { return m_Connected != nullptr; }
  IPin *GetConnected() const { return m_Connected; }
  bool IsStopped() { return m_pFilter->IsStopped(); }
  const CMediaType &CurrentMediaType() const { return m_mt; }
  LPCWSTR Name() const { return m_pName; }
  CBaseFilter *Filter() const { return m_pFilter; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  HRESULT AgreeMediaType(IPin *receivePin, const CMediaType *pmt);
  HRESULT TryMediaTypes(IPin *receivePin, const CMediaType *partial, IEnumMediaTypes *types);
  HRESULT AttemptConnection(IPin *receivePin, const CMediaType *pmt);
  HRESULT DisconnectInternal();

  WCHAR *m_pName;
  IPin *m_Connected = nullptr;
  PIN_DIRECTION m_dir;
  CCritSec *m_pLock;
  std::atomic<bool> m_bRunTimeError{false};
  bool m_bCanReconnectWhenActive = false;
  bool m_bTryMyTypesFirst = false;
  CBaseFilter *m_pFilter;
  std::atomic<LONG> m_TypeVersion{1};
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0, m_tStop = MAX_TIME;
  double m_dRate = 1.0;
};

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr, LPCWSTR pinName);
  ~CBaseOutputPin() override;

  HRESULT CheckConnect(IPin *pin) override;
  HRESULT CompleteConnect(IPin *receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  /* The downstream pin's allocator when it offers one and DecideBufferSize
   * takes it, else a memory allocator of our own. */
  virtual HRESULT DecideAllocator(IMemInputPin *pin, IMemAllocator **alloc);
  virtual HRESULT InitAllocator(IMemAllocator **alloc);
  virtual HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) = 0;

  virtual HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                    DWORD flags);
  virtual HRESULT Deliver(IMediaSample *sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  /* Control calls go to input pins only. */
  HRESULT EndOfStream() override { return E_UNEXPECTED; }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }

  IMemAllocator *Allocator() const { return m_pAllocator; }
  IMemInputPin *InputPin() const { return m_pInputPin; }

 protected:
  IMemAllocator *m_pAllocator = nullptr;
  IMemInputPin *m_pInputPin = nullptr;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr, LPCWSTR pinName);
  ~CBaseInputPin() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

  HRESULT GetAllocator(IMemAllocator **allocator) override;
  HRESULT NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) override;
  /* Checks the streaming state and a type change the sample carries. */
  HRESULT Receive(IMediaSample *sample) override;
  /* Receive for each sample, stopping at the first answer other than S_OK;
   * processed counts the samples that answered S_OK. */
  HRESULT ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
  HRESULT ReceiveCanBlock() override;

  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  /* S_OK while streaming; S_FALSE while flushing; an error when stopped or
   * after a run-time error. */
  virtual HRESULT CheckStreaming();
  bool IsFlushing() const { return m_bFlushing; }
  bool IsReadOnly() const { return m_bReadOnly; }

 protected:
  IMemAllocator *m_pAllocator = nullptr;
  bool m_bReadOnly = false;
  std::atomic<bool> m_bFlushing{false};
};

/* An input pin at the end of a stream: at end of stream it tells the graph
 * EC_COMPLETE once, when running, or at the next run when paused. */
class CRenderedInputPin : public CBaseInputPin {
 public:
  CRenderedInputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr,
                    LPCWSTR pinName);

  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;
  HRESULT Active() override;
  HRESULT Run(REFERENCE_TIME start) override;

 protected:
  void DoCompleteHandling();
  std::atomic<bool> m_bAtEndOfStream{false};
  std::atomic<bool> m_bCompleteNotified{false};
};

/* Enumerates a filter's pins while their set stays the same. */
class CEnumPins final : public CCountedObject<IEnumPins, IID_IEnumPins> {
 public:
  CEnumPins(CBaseFilter *filter, const CEnumPins *from);
  ~CEnumPins() override;
  HRESULT Next(ULONG count, IPin **pins, ULONG *fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins **out) override;

 private:
  CBaseFilter *m_pFilter;
  int m_Position;
  LONG m_Version;
};

/* Enumerates a pin's own types while they stay the same. */
class CEnumMediaTypes final : public CCountedObject<IEnumMediaTypes, IID_IEnumMediaTypes> {
 public:
  CEnumMediaTypes(CBasePin *pin, const CEnumMediaTypes *from);
  ~CEnumMediaTypes() override;
  HRESULT Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumMediaTypes **out) override;

 private:
  CBasePin *m_pPin;
  int m_Position;
  LONG m_Version;
};

/* A copy of s in task memory (QueryId and the like); NULL when out of
 * memory. */
WCHAR *TaskMemString(LPCWSTR s);
/* Copies at most size - 1 units and the terminator. */
void CopyWideString(WCHAR *dst, LPCWSTR src, size_t size);
size_t WideLength(LPCWSTR s);
bool WideEqual(LPCWSTR a, LPCWSTR b);

#endif
