/* The streaming interfaces between filters: filters, pins, media types,
 * samples, allocators, the asynchronous reader, file sources, seeking,
 * clocks, the filter graph a filter joins, and event sinks.  Method orders
 * are the published ones. */
#ifndef TARVO_DSHOW_DSHOW_H
#define TARVO_DSHOW_DSHOW_H

#include <tarvo_com/com.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_com/com_wave.h>

/* Times are in 100 ns units. */
#define UNITS ((REFERENCE_TIME)10000000)
#define MILLISECONDS ((REFERENCE_TIME)10000)
#define MAX_TIME ((REFERENCE_TIME)0x7FFFFFFFFFFFFFFF)
#define MAX_PIN_NAME 128
#define MAX_FILTER_NAME 128
#define MERIT_DO_NOT_USE 0x200000

#define VFW_S_NO_MORE_ITEMS ((HRESULT)0x00040103)
#define VFW_S_STATE_INTERMEDIATE ((HRESULT)0x00040237)
#define VFW_S_NO_STOP_TIME ((HRESULT)0x00040270)
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200)
#define VFW_E_INVALIDSUBTYPE ((HRESULT)0x80040201)
#define VFW_E_NEED_OWNER ((HRESULT)0x80040202)
#define VFW_E_ENUM_OUT_OF_SYNC ((HRESULT)0x80040203)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204)
#define VFW_E_FILTER_ACTIVE ((HRESULT)0x80040205)
#define VFW_E_NO_TYPES ((HRESULT)0x80040206)
#define VFW_E_NO_ACCEPTABLE_TYPES ((HRESULT)0x80040207)
#define VFW_E_INVALID_DIRECTION ((HRESULT)0x80040208)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209)
#define VFW_E_NO_ALLOCATOR ((HRESULT)0x8004020A)
#define VFW_E_RUNTIME_ERROR ((HRESULT)0x8004020B)
#define VFW_E_BUFFER_NOTSET ((HRESULT)0x8004020C)
#define VFW_E_BUFFER_OVERFLOW ((HRESULT)0x8004020D)
#define VFW_E_BADALIGN ((HRESULT)0x8004020E)
#define VFW_E_ALREADY_COMMITTED ((HRESULT)0x8004020F)
#define VFW_E_BUFFERS_OUTSTANDING ((HRESULT)0x80040210)
#define VFW_E_NOT_COMMITTED ((HRESULT)0x80040211)
#define VFW_E_SIZENOTSET ((HRESULT)0x80040212)
#define VFW_E_NO_CLOCK ((HRESULT)0x80040213)
#define VFW_E_NO_SINK ((HRESULT)0x80040214)
#define VFW_E_NO_INTERFACE ((HRESULT)0x80040215)
#define VFW_E_NOT_FOUND ((HRESULT)0x80040216)
#define VFW_E_CANNOT_CONNECT ((HRESULT)0x80040217)
#define VFW_E_NOT_STOPPED ((HRESULT)0x80040224)
#define VFW_E_NOT_PAUSED ((HRESULT)0x80040225)
#define VFW_E_NOT_RUNNING ((HRESULT)0x80040226)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227)
#define VFW_E_START_TIME_AFTER_END ((HRESULT)0x80040228)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022A)
#define VFW_E_SAMPLE_REJECTED ((HRESULT)0x8004022B)
#define VFW_E_SAMPLE_REJECTED_EOS ((HRESULT)0x8004022C)
#define VFW_E_TIMEOUT ((HRESULT)0x8004022E)
#define VFW_E_SAMPLE_TIME_NOT_SET ((HRESULT)0x80040249)
#define VFW_E_MEDIA_TIME_NOT_SET ((HRESULT)0x80040251)
#define VFW_E_NOT_IN_GRAPH ((HRESULT)0x8004025F)

#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03
#define EC_STREAM_ERROR_STOPPED 0x06
#define EC_STREAM_ERROR_STILLPLAYING 0x07

TARVO_GUID(IID_IPin, 0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IEnumPins, 0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IEnumFilters, 0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMemAllocator, 0x56A8689C, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMemInputPin, 0x56A8689D, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaEventSink, 0x56A868A2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IFileSourceFilter, 0x56A868A6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IAsyncReader, 0x56A868AA, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaPosition, 0x56A868B2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TARVO_GUID(IID_IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);

TARVO_GUID(MEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
TARVO_GUID(MEDIATYPE_Stream, 0xE436EB83, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
#define MEDIASUBTYPE_NULL GUID_NULL
TARVO_GUID(MEDIASUBTYPE_PCM, 0x00000001, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
TARVO_GUID(MEDIASUBTYPE_IEEE_FLOAT, 0x00000003, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
TARVO_GUID(MEDIASUBTYPE_MPEG1Payload, 0xE436EB81, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(MEDIASUBTYPE_MPEG1System, 0xE436EB84, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(MEDIASUBTYPE_MPEG1Audio, 0xE436EB87, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(MEDIASUBTYPE_WAVE, 0xE436EB8B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(MEDIASUBTYPE_MPEG2_AUDIO, 0xE06D802B, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);
TARVO_GUID(FORMAT_None, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
TARVO_GUID(FORMAT_WaveFormatEx, 0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TARVO_GUID(TIME_FORMAT_FRAME, 0x7B785570, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TARVO_GUID(TIME_FORMAT_BYTE, 0x7B785572, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TARVO_GUID(TIME_FORMAT_SAMPLE, 0x7B785573, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TARVO_GUID(TIME_FORMAT_MEDIA_TIME, 0x7B785574, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
#define TIME_FORMAT_NONE GUID_NULL

/* The audio subtype of a wave-format tag: the tag in the first 32 bits of
 * the standard base GUID. */
inline GUID MediaSubtypeFromWaveTag(WORD tag)
{
  GUID g = MEDIASUBTYPE_PCM;
  g.Data1 = tag;
  return g;
}

class IPin;
class IBaseFilter;
class IFilterGraph;
class IMediaSample;
class IMemAllocator;

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown *pUnk;
  ULONG cbFormat;
  BYTE *pbFormat;  // from CoTaskMemAlloc
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct PIN_INFO {
  IBaseFilter *pFilter;  // referenced: the caller releases it
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph *pGraph;  // referenced when not NULL
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

/* GetBuffer flags. */
#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2
#define AM_GBF_NOWAIT 4

/* Seeking flags and capabilities. */
enum {
  AM_SEEKING_NoPositioning = 0,
  AM_SEEKING_AbsolutePositioning = 1,
  AM_SEEKING_RelativePositioning = 2,
  AM_SEEKING_IncrementalPositioning = 3,
  AM_SEEKING_PositioningBitsMask = 3,
  AM_SEEKING_SeekToKeyFrame = 4,
  AM_SEEKING_ReturnTime = 8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20,
};
enum {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};

class IEnumPins : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, IPin **pins, ULONG *fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumPins **out) = 0;
};

class IEnumMediaTypes : public IUnknown {
 public:
  /* Each type comes from CoTaskMemAlloc with its format block; the caller
   * frees both (DeleteMediaType). */
  virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMediaTypes **out) = 0;
};

class IPin : public IUnknown {
 public:
  virtual HRESULT Connect(IPin *receivePin, const AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin **pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO *info) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION *dir) = 0;
  virtual HRESULT QueryId(LPWSTR *id) = 0;
  virtual HRESULT QueryAccept(const AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT EnumMediaTypes(IEnumMediaTypes **types) = 0;
  virtual HRESULT QueryInternalConnections(IPin **pins, ULONG *count) = 0;
  virtual HRESULT EndOfStream() = 0;
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

class IReferenceClock : public IUnknown {
 public:
  virtual HRESULT GetTime(REFERENCE_TIME *time) = 0;
  virtual HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, void *event, DWORD_PTR *cookie) = 0;
  virtual HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, void *semaphore,
                                 DWORD_PTR *cookie) = 0;
  virtual HRESULT Unadvise(DWORD_PTR cookie) = 0;
};

class IMediaFilter : public IPersist {
 public:
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE *state) = 0;
  virtual HRESULT SetSyncSource(IReferenceClock *clock) = 0;
  virtual HRESULT GetSyncSource(IReferenceClock **clock) = 0;
};

class IBaseFilter : public IMediaFilter {
 public:
  virtual HRESULT EnumPins(IEnumPins **pins) = 0;
  virtual HRESULT FindPin(LPCWSTR id, IPin **pin) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO *info) = 0;
  virtual HRESULT JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) = 0;
  virtual HRESULT QueryVendorInfo(LPWSTR *info) = 0;
};

class IEnumFilters : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, IBaseFilter **filters, ULONG *fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFilters **out) = 0;
};

class IFilterGraph : public IUnknown {
 public:
  virtual HRESULT AddFilter(IBaseFilter *filter, LPCWSTR name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter *filter) = 0;
  virtual HRESULT EnumFilters(IEnumFilters **filters) = 0;
  virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter **filter) = 0;
  virtual HRESULT ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT Reconnect(IPin *pin) = 0;
  virtual HRESULT Disconnect(IPin *pin) = 0;
  virtual HRESULT SetDefaultSyncSource() = 0;
};

class IMediaEventSink : public IUnknown {
 public:
  virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

class IMediaSample : public IUnknown {
 public:
  virtual HRESULT GetPointer(BYTE **buffer) = 0;
  virtual LONG GetSize() = 0;
  virtual HRESULT GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) = 0;
  virtual HRESULT SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) = 0;
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(BOOL sync) = 0;
  virtual HRESULT IsPreroll() = 0;
  virtual HRESULT SetPreroll(BOOL preroll) = 0;
  virtual LONG GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(LONG length) = 0;
  virtual HRESULT GetMediaType(AM_MEDIA_TYPE **type) = 0;
  virtual HRESULT SetMediaType(AM_MEDIA_TYPE *type) = 0;
  virtual HRESULT IsDiscontinuity() = 0;
  virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
  virtual HRESULT GetMediaTime(LONGLONG *start, LONGLONG *end) = 0;
  virtual HRESULT SetMediaTime(LONGLONG *start, LONGLONG *end) = 0;
};

class IMemAllocator : public IUnknown {
 public:
  virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES *props) = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Decommit() = 0;
  virtual HRESULT GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end, DWORD flags) = 0;
  virtual HRESULT ReleaseBuffer(IMediaSample *sample) = 0;
};

class IMemInputPin : public IUnknown {
 public:
  virtual HRESULT GetAllocator(IMemAllocator **allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) = 0;
  virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) = 0;
  virtual HRESULT Receive(IMediaSample *sample) = 0;
  virtual HRESULT ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) = 0;
  virtual HRESULT ReceiveCanBlock() = 0;
};

/* Reads a byte stream for a pull pin.  A sample's times give its byte range
 * as offsets times UNITS. */
class IAsyncReader : public IUnknown {
 public:
  virtual HRESULT RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props,
                                   IMemAllocator **actual) = 0;
  virtual HRESULT Request(IMediaSample *sample, DWORD_PTR user) = 0;
  virtual HRESULT WaitForNext(DWORD timeout, IMediaSample **sample, DWORD_PTR *user) = 0;
  virtual HRESULT SyncReadAligned(IMediaSample *sample) = 0;
  virtual HRESULT SyncRead(LONGLONG position, LONG length, BYTE *buffer) = 0;
  virtual HRESULT Length(LONGLONG *total, LONGLONG *available) = 0;
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;
};

class IFileSourceFilter : public IUnknown {
 public:
  virtual HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *pmt) = 0;
  virtual HRESULT GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *pmt) = 0;
};

class IMediaSeeking : public IUnknown {
 public:
  virtual HRESULT GetCapabilities(DWORD *caps) = 0;
  virtual HRESULT CheckCapabilities(DWORD *caps) = 0;
  virtual HRESULT IsFormatSupported(const GUID *format) = 0;
  virtual HRESULT QueryPreferredFormat(GUID *format) = 0;
  virtual HRESULT GetTimeFormat(GUID *format) = 0;
  virtual HRESULT IsUsingTimeFormat(const GUID *format) = 0;
  virtual HRESULT SetTimeFormat(const GUID *format) = 0;
  virtual HRESULT GetDuration(LONGLONG *duration) = 0;
  virtual HRESULT GetStopPosition(LONGLONG *stop) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG *current) = 0;
  virtual HRESULT ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                    const GUID *sourceFormat) = 0;
  virtual HRESULT SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop, DWORD stopFlags) = 0;
  virtual HRESULT GetPositions(LONGLONG *current, LONGLONG *stop) = 0;
  virtual HRESULT GetAvailable(LONGLONG *earliest, LONGLONG *latest) = 0;
  virtual HRESULT SetRate(double rate) = 0;
  virtual HRESULT GetRate(double *rate) = 0;
  virtual HRESULT GetPreroll(LONGLONG *preroll) = 0;
};

/* Setup data of a filter, as a factory template names it.  Nothing is
 * written anywhere from it; it documents the filter's pins. */
struct AMOVIESETUP_MEDIATYPE {
  const CLSID *clsMajorType;
  const CLSID *clsMinorType;
};
struct AMOVIESETUP_PIN {
  LPCWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID *clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  UINT nMediaTypes;
  const AMOVIESETUP_MEDIATYPE *lpMediaType;
};
struct AMOVIESETUP_FILTER {
  const CLSID *clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN *lpPin;
};

#endif
