// The system filters' tests share this: a graph of filters made through
// CoCreateInstance from a loaded source to the test renderer, run to its
// end, with what the renderer received; and the tone's frequency in PCM.
#ifndef TARVO_TESTS_DSHOW_SYS_GRAPH_H
#define TARVO_TESTS_DSHOW_SYS_GRAPH_H

#include <gtest/gtest.h>

#include <tarvo_dshow/dshow_graph.h>
#include <tarvo_dshow/dshow_sys.h>

#include "../common/dshow_chain.h"
#include "test_filters.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Collect final : public TestSinkCallback {
 public:
  HRESULT Receive(IMediaSample *s) override
  {
    std::unique_lock<std::mutex> l(m);
    if (hold && !flushed) {
      // The first sample waits for the flush of a seek.
      held = true;
      cond.notify_all();
      cond.wait(l, [&] { return flushed; });
      return S_OK;
    }
    BYTE *p = nullptr;
    s->GetPointer(&p);
    REFERENCE_TIME t0 = 0, t1 = 0;
    s->GetTime(&t0, &t1);
    if (bytes.empty()) first_time = t0;
    bytes.insert(bytes.end(), p, p + s->GetActualDataLength());
    return S_OK;
  }
  void BeginFlush() override
  {
    std::lock_guard<std::mutex> l(m);
    flushed = true;
    bytes.clear();
    first_time = -1;
    cond.notify_all();
  }
  void EndFlush() override {}
  bool WaitHeld()
  {
    std::unique_lock<std::mutex> l(m);
    return cond.wait_for(l, std::chrono::seconds(20), [&] { return held; });
  }
  std::mutex m;
  std::condition_variable cond;
  std::vector<BYTE> bytes;
  REFERENCE_TIME first_time = -1;
  bool hold = false, held = false, flushed = false;
};

template <class T>
T *make(REFCLSID clsid, REFIID iid)
{
  T *p = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void **>(&p)), S_OK);
  return p;
}

struct Outcome {
  HRESULT load = E_FAIL;     // the source's Load
  HRESULT connect = E_FAIL;  // the first link that failed, or S_OK
  LONG code = 0;             // how the run ended
  std::vector<BYTE> bytes;
  REFERENCE_TIME first_time = -1;
};

// The source (of class source_clsid) loaded with file, then the filters of
// middle (referenced; released here), then the test renderer, each linked
// from its first output pin to the next one's first input pin.  When all
// are linked, the graph runs to its end; seek < 0: from the start.
// While running, `running` (when given) is called with the graph's seeking;
// `hold` makes the renderer's first sample wait for a flush.
inline Outcome sys_play(REFCLSID source_clsid, const std::u16string &file, std::vector<IBaseFilter *> middle,
                        REFERENCE_TIME seek = -1, const std::function<void(IMediaSeeking *)> &running = nullptr,
                        bool hold = false)
{
  Outcome o;
  Collect rec;
  rec.hold = hold;
  IGraphBuilder *graph = make<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
  IBaseFilter *source = make<IBaseFilter>(source_clsid, IID_IBaseFilter);
  if (graph && source) {
    IFileSourceFilter *load = nullptr;
    source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void **>(&load));
    o.load = load->Load(file.c_str(), nullptr);
    load->Release();
  }
  IBaseFilter *sink = nullptr;
  if (SUCCEEDED(o.load) &&
      SUCCEEDED(chain_create("dshow_testsink.ax", CLSID_TestSink, IID_IBaseFilter, reinterpret_cast<void **>(&sink)))) {
    ITestSink *ts = nullptr;
    sink->QueryInterface(IID_ITestSink, reinterpret_cast<void **>(&ts));
    ts->SetCallback(&rec);
    ts->Release();
    std::vector<IBaseFilter *> chain{source};
    chain.insert(chain.end(), middle.begin(), middle.end());
    chain.push_back(sink);
    for (IBaseFilter *f : chain) graph->AddFilter(f, nullptr);
    o.connect = S_OK;
    for (size_t i = 0; i + 1 < chain.size() && SUCCEEDED(o.connect); i++) {
      IPin *out = chain_pin(chain[i], PINDIR_OUTPUT), *in = chain_pin(chain[i + 1], PINDIR_INPUT);
      o.connect = out && in ? graph->ConnectDirect(out, in, nullptr) : E_FAIL;
      if (out) out->Release();
      if (in) in->Release();
    }
  }
  if (SUCCEEDED(o.connect)) {
    IMediaSeeking *seeking = nullptr;
    graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking));
    if (seek >= 0) {
      EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
      EXPECT_EQ(seeking->SetPositions(&seek, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    }
    IMediaControl *mc = nullptr;
    IMediaEvent *me = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&mc));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&me));
    EXPECT_EQ(mc->Run(), S_OK);
    if (running) {
      if (hold) {
        EXPECT_TRUE(rec.WaitHeld());
      }
      running(seeking);
    }
    seeking->Release();
    EXPECT_EQ(me->WaitForCompletion(LONG(INFINITE), &o.code), S_OK);
    mc->Release();
    me->Release();
  }
  for (IBaseFilter *f : middle)
    if (f) f->Release();
  if (sink) sink->Release();
  if (source) source->Release();
  if (graph) graph->Release();  // stops the graph and joins its threads
  o.bytes = rec.bytes;
  o.first_time = rec.first_time;
  return o;
}

// The strongest frequency from 990 to 1010 Hz, in steps of 0.1 Hz, over a
// second from the middle of 16-bit stereo PCM at 44100 Hz (first channel).
inline double tone_hz(const std::vector<BYTE> &pcm)
{
  size_t frames = pcm.size() / 4;
  if (frames < 44100 * 3 / 2) return 0;
  size_t from = (frames - 44100) / 2;
  double best = 0, best_hz = 0;
  for (double hz = 990; hz <= 1010; hz += 0.1) {
    double w = 2 * M_PI * hz / 44100, c = 2 * std::cos(w), s1 = 0, s2 = 0;
    for (size_t i = from; i < from + 44100; i++) {
      double s0 = double(int16_t(pcm[i * 4] | pcm[i * 4 + 1] << 8)) + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    if (power > best) best = power, best_hz = hz;
  }
  return best_hz;
}

// The threads of this process.
inline int thread_count()
{
  int n = 0;
  DIR *d = opendir("/proc/self/task");
  if (!d) return -1;
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// The threads before a test starts its own: a sanitizer's own thread
// starts with the first one, so one is made and joined first.
inline int thread_baseline()
{
  std::thread([] {}).join();
  return thread_count();
}

// The threads once those that have ended are gone: the kernel may list an
// ended thread for a moment after it was joined (the baseline may have
// counted one too, so fewer than want is as good).
inline int thread_count_settled(int want)
{
  int n = thread_count();
  for (int i = 0; i < 200 && n > want; i++) {
    usleep(10 * 1000);
    n = thread_count();
  }
  return n;
}

inline std::u16string wide(const std::string &s)
{
  return std::u16string(s.begin(), s.end());
}

#endif
