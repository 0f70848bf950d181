/* The filter graph as its users see it: building (IGraphBuilder), running
 * (IMediaControl) and waiting for its events (IMediaEvent).  The graph also
 * offers IFilterGraph, IMediaEventSink and IMediaSeeking (dshow.h).  There
 * is no automation layer here, so these interfaces derive from IUnknown. */
#ifndef TARVO_DSHOW_DSHOW_GRAPH_H
#define TARVO_DSHOW_DSHOW_GRAPH_H

#include <tarvo_dshow/dshow.h>

typedef LONG_PTR OAEVENT;
typedef LONG OAFilterState;

#define VFW_E_CANNOT_RENDER ((HRESULT)0x80040218)

TARVO_GUID(CLSID_FilterGraph, 0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IGraphBuilder, 0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaControl, 0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TARVO_GUID(IID_IMediaEvent, 0x56A868B6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

class IGraphBuilder : public IFilterGraph {
 public:
  /* Connects directly; there is no registry of intermediate filters. */
  virtual HRESULT Connect(IPin *out, IPin *in) = 0;
  /* Connects an output pin to a free input pin of a filter in the graph. */
  virtual HRESULT Render(IPin *out) = 0;
  virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
  virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter **filter) = 0;
  virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
  virtual HRESULT Abort() = 0;
  virtual HRESULT ShouldOperationContinue() = 0;
};

class IMediaControl : public IUnknown {
 public:
  /* Run pauses a stopped graph first; every state change goes from the
   * renderers upstream. */
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG msTimeout, OAFilterState *state) = 0;
  virtual HRESULT RenderFile(LPCWSTR file) = 0;
  virtual HRESULT AddSourceFilter(LPCWSTR file, IUnknown **filter) = 0;
  virtual HRESULT get_FilterInfoCollection(IUnknown **collection) = 0;
  virtual HRESULT get_RegFilterCollection(IUnknown **collection) = 0;
  virtual HRESULT StopWhenReady() = 0;
};

class IMediaEvent : public IUnknown {
 public:
  virtual HRESULT GetEventHandle(OAEVENT *event) = 0;
  /* The next queued event within msTimeout ms (E_ABORT when none). */
  virtual HRESULT GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG msTimeout) = 0;
  /* Returns S_OK with EC_COMPLETE once every renderer has completed, or at
   * once with EC_ERRORABORT or EC_USERABORT; E_ABORT when msTimeout passes
   * first (INFINITE: no limit); VFW_E_WRONG_STATE when the graph is stopped. */
  virtual HRESULT WaitForCompletion(LONG msTimeout, LONG *code) = 0;
  virtual HRESULT CancelDefaultHandling(LONG code) = 0;
  virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
  virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

#endif
