/* The delegate renderer's interface, shared by the filter library and the
 * clients that load it: the client's callback and IDelegateRenderer. */
#ifndef TARVO_PANDREL_PANDREL_H
#define TARVO_PANDREL_PANDREL_H

#include <tarvo_dshow/dshow.h>

TARVO_GUID(CLSID_DelegateRenderer, 0x5D4F8B7D, 0x9377, 0x45BA, 0x86, 0xA9, 0xB9, 0xB6, 0x2E, 0x12, 0xC2, 0x12);
TARVO_GUID(IID_IDelegateRenderer, 0x9CDD1856, 0x1294, 0x461B, 0x86, 0xF5, 0xC7, 0x87, 0xD1, 0xBD, 0x35, 0x60);

/* Implemented and owned by the client; not reference-counted.  Run, Pause
 * and Stop come on the thread that drives the graph with the filter lock
 * held, before the filter changes state; Receive comes on the streaming
 * thread with the receive lock held, and a failure from it ends the
 * stream.  Stop may come while a Receive is still running. */
class DelegateCallback {
 public:
  virtual ~DelegateCallback() = default;
  virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }
  virtual HRESULT Pause() { return S_OK; }
  virtual HRESULT Stop() { return S_OK; }
  virtual HRESULT Receive(IMediaSample *) { return S_OK; }
};

class IDelegateRenderer : public IUnknown {
 public:
  /* NULL clears it.  Set it before the graph runs. */
  virtual HRESULT SetCallback(DelegateCallback *callback) = 0;
};

#endif
