// IMediaSeeking of a source's output pin in media time (100 ns) only, at
// rate 1: the flags and the relative forms are worked out here; the pin
// gives its duration and segment, and moves the segment.
#ifndef TARVO_DSHOW_SYS_SEEKING_H
#define TARVO_DSHOW_SYS_SEEKING_H

#include <tarvo_dshow/dshow.h>

class SysSeeking : public IMediaSeeking {
 public:
  /* The segment now, and the whole stream's length; VFW_E_NOT_CONNECTED
   * while there is no stream. */
  virtual HRESULT SeekSegment(LONGLONG *start, LONGLONG *stop, LONGLONG *duration) = 0;
  /* Moves the segment to [start, stop) (start <= stop, both within the
   * duration) and sets both to the times actually used. */
  virtual HRESULT SeekTo(LONGLONG *start, LONGLONG *stop) = 0;

  HRESULT GetCapabilities(DWORD *caps) override
  {
    if (!caps) return E_POINTER;
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
            AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
  }
  HRESULT CheckCapabilities(DWORD *caps) override
  {
    if (!caps) return E_POINTER;
    DWORD have = 0, want = *caps;
    GetCapabilities(&have);
    *caps &= have;
    return *caps == want ? S_OK : *caps ? S_FALSE : E_FAIL;
  }
  HRESULT IsFormatSupported(const GUID *f) override
  {
    if (!f) return E_POINTER;
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  }
  HRESULT QueryPreferredFormat(GUID *f) override { return GetTimeFormat(f); }
  HRESULT GetTimeFormat(GUID *f) override
  {
    if (!f) return E_POINTER;
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  HRESULT IsUsingTimeFormat(const GUID *f) override { return IsFormatSupported(f); }
  HRESULT SetTimeFormat(const GUID *f) override
  {
    if (!f) return E_POINTER;
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
  }
  HRESULT GetDuration(LONGLONG *d) override
  {
    if (!d) return E_POINTER;
    LONGLONG start, stop;
    return SeekSegment(&start, &stop, d);
  }
  HRESULT GetStopPosition(LONGLONG *s) override
  {
    if (!s) return E_POINTER;
    LONGLONG start, duration;
    return SeekSegment(&start, s, &duration);
  }
  HRESULT GetCurrentPosition(LONGLONG *c) override
  {
    if (!c) return E_POINTER;
    LONGLONG stop, duration;
    return SeekSegment(c, &stop, &duration);
  }
  HRESULT ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override { return E_NOTIMPL; }
  HRESULT SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop, DWORD stopFlags) override
  {
    LONGLONG start = 0, end = 0, duration = 0;
    HRESULT hr = SeekSegment(&start, &end, &duration);
    if (FAILED(hr)) return hr;
    if (!Place(current, currentFlags, &start) || !Place(stop, stopFlags, &end)) return E_INVALIDARG;
    start = start < 0 ? 0 : start > duration ? duration : start;
    end = end < start ? start : end > duration ? duration : end;
    hr = SeekTo(&start, &end);
    if (FAILED(hr)) return hr;
    if (current && (currentFlags & AM_SEEKING_ReturnTime)) *current = start;
    if (stop && (stopFlags & AM_SEEKING_ReturnTime)) *stop = end;
    return S_OK;
  }
  HRESULT GetPositions(LONGLONG *current, LONGLONG *stop) override
  {
    LONGLONG start, end, duration;
    HRESULT hr = SeekSegment(&start, &end, &duration);
    if (FAILED(hr)) return hr;
    if (current) *current = start;
    if (stop) *stop = end;
    return S_OK;
  }
  HRESULT GetAvailable(LONGLONG *earliest, LONGLONG *latest) override
  {
    if (earliest) *earliest = 0;
    return latest ? GetDuration(latest) : S_OK;
  }
  HRESULT SetRate(double rate) override { return rate == 1.0 ? S_OK : E_INVALIDARG; }
  HRESULT GetRate(double *r) override
  {
    if (!r) return E_POINTER;
    *r = 1.0;
    return S_OK;
  }
  HRESULT GetPreroll(LONGLONG *p) override
  {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
  }

 private:
  static bool Place(const LONGLONG *t, DWORD flags, LONGLONG *now)
  {
    switch (flags & AM_SEEKING_PositioningBitsMask) {
      case AM_SEEKING_NoPositioning:
        return true;
      case AM_SEEKING_AbsolutePositioning:
        if (!t) return false;
        *now = *t;
        return true;
      case AM_SEEKING_RelativePositioning:
        if (!t) return false;
        *now += *t;
        return true;
      default:
        return false;
    }
  }
};

#endif
