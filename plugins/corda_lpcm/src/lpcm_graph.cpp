// WMA, MP3 and WAV to 16-bit PCM through filter graphs: the platform's
// source, parsers and decoders, then the system's resampler (and downmix)
// into the Delegate renderer, whose callback is the sample sink.
#include <corda_lpcm/corda_lpcm.h>


#include <mirrow/mirrow.h>
#include <pandrel/pandrel.h>
#include <quorrin/quorrin.h>
#include <saltrey/saltrey.h>
#include <tarvo_com/com_wave.h>
#include <tarvo_dshow/dshow_graph.h>
#include <tarvo_dshow/dshow_sys.h>
#include <tarvo_tag/tag_riff.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <string>
#include <vector>

namespace {

// The system's filter libraries, by the names they ship under.
constexpr LPCOLESTR kResamplerFile = u"mirrow.ax";
constexpr LPCOLESTR kMp3ParserFile = u"quorrin.ax";
constexpr LPCOLESTR kDownmixFile = u"saltrey.dll";
constexpr LPCOLESTR kRendererFile = u"pandrel.ax";

constexpr REFERENCE_TIME kUnitsPerMs = 10000;  // 100 ns units
constexpr int kLfeLevel = 1;

enum graph_kind { GRAPH_NONE, GRAPH_WMA, GRAPH_MP3, GRAPH_WAV };

// The filter of class clsid from a library file, without the class table.
HRESULT filter_from_file(REFCLSID clsid, REFIID iid, LPCOLESTR file, void **out)
{
  *out = nullptr;
  HMODULE lib = CoLoadLibrary(file, TRUE);
  if (!lib) return REGDB_E_CLASSNOTREG;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(lib, "DllGetClassObject"));
  HRESULT hr = E_NOINTERFACE;
  IClassFactory *factory = nullptr;
  if (get) hr = get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
  }
  if (FAILED(hr)) FreeLibrary(lib);
  return hr;
}

// One graph being built: what it holds is released together.
struct graph_rec {
  IGraphBuilder *builder = nullptr;
  std::vector<IBaseFilter *> filters;
  std::u16string path;
  uint32_t rate = 0, channels = 0;
  uint32_t duration_ms = 0;
  DelegateCallback *sink = nullptr;
};

std::vector<IPin *> pins(IBaseFilter *f, PIN_DIRECTION want);

// Connections are undone from the renderer upstream before the graph goes:
// the MP3 parser deletes its output pin when its input disconnects, so that
// pin must be free of its peer, and of every reference, by then.
void disconnect_all(graph_rec *g)
{
  for (auto f = g->filters.rbegin(); f != g->filters.rend(); ++f) {
    for (IPin *out : pins(*f, PINDIR_OUTPUT)) {
      IPin *peer = nullptr;
      if (SUCCEEDED(out->ConnectedTo(&peer)) && peer) {
        g->builder->Disconnect(out);
        g->builder->Disconnect(peer);
        peer->Release();
      }
      out->Release();
    }
  }
}

void graph_release(graph_rec *g)
{
  if (g->builder) disconnect_all(g);
  for (IBaseFilter *f : g->filters) f->Release();
  g->filters.clear();
  if (g->builder) g->builder->Release();
  g->builder = nullptr;
}

HRESULT add(graph_rec *g, IBaseFilter *f)
{
  try {
    g->filters.push_back(f);
  } catch (...) {
    f->Release();
    return E_OUTOFMEMORY;
  }
  return g->builder->AddFilter(f, nullptr);
}

template <class I>
HRESULT query(IUnknown *u, REFIID iid, I **out)
{
  return u->QueryInterface(iid, reinterpret_cast<void **>(out));
}

// A filter just created (created is its HRESULT), set up through its
// interface I by set, then added; on failure it is released.
template <class I, class Set>
HRESULT set_up(graph_rec *g, HRESULT created, IBaseFilter **out, REFIID iid, Set set)
{
  if (FAILED(created)) return created;
  I *i = nullptr;
  HRESULT hr = query(*out, iid, &i);
  if (SUCCEEDED(hr)) {
    hr = set(i);
    i->Release();
  }
  if (FAILED(hr)) {
    (*out)->Release();
    *out = nullptr;
    return hr;
  }
  return add(g, *out);
}

HRESULT create(REFCLSID clsid, IBaseFilter **out)
{
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void **>(out));
}

HRESULT from_file(REFCLSID clsid, LPCOLESTR file, IBaseFilter **out)
{
  return filter_from_file(clsid, IID_IBaseFilter, file, reinterpret_cast<void **>(out));
}

HRESULT make_system(graph_rec *g, REFCLSID clsid, IBaseFilter **out)
{
  HRESULT hr = create(clsid, out);
  return FAILED(hr) ? hr : add(g, *out);
}

HRESULT make_source(graph_rec *g, REFCLSID clsid, IBaseFilter **out)
{
  return set_up<IFileSourceFilter>(g, create(clsid, out), out, IID_IFileSourceFilter,
                                   [&](IFileSourceFilter *f) { return f->Load(g->path.c_str(), nullptr); });
}

HRESULT make_resampler(graph_rec *g, IBaseFilter **out)
{
  return set_up<IResampleSettings>(g, from_file(CLSID_ResampleFilter, kResamplerFile, out), out, IID_IResampleSettings,
                                   [&](IResampleSettings *s) {
                                     HRESULT hr = s->SetSampleRate(int(g->rate));
                                     if (SUCCEEDED(hr)) hr = s->SetBitsPerSample(16);
                                     return SUCCEEDED(hr) ? s->SetChannels(int(g->channels)) : hr;
                                   });
}

HRESULT make_renderer(graph_rec *g, IBaseFilter **out)
{
  return set_up<IDelegateRenderer>(g, from_file(CLSID_DelegateRenderer, kRendererFile, out), out,
                                   IID_IDelegateRenderer, [&](IDelegateRenderer *r) { return r->SetCallback(g->sink); });
}

HRESULT make_downmix(graph_rec *g, IBaseFilter **out)
{
  return set_up<IDownmixSettings>(g, from_file(CLSID_DownmixFilter, kDownmixFile, out), out, IID_IDownmixSettings,
                                  [](IDownmixSettings *s) { return s->SetLoRoLfeLevel(kLfeLevel); });
}

HRESULT make_mp3_parser(graph_rec *g, IBaseFilter **out)
{
  HRESULT hr = from_file(CLSID_Mp3Parser, kMp3ParserFile, out);
  // Without a duration the parser's control is not touched.
  if (FAILED(hr) || !g->duration_ms) return FAILED(hr) ? hr : add(g, *out);
  return set_up<IMp3ParserControl>(g, hr, out, IID_IMp3ParserControl, [&](IMp3ParserControl *c) {
    LONGLONG duration = LONGLONG(g->duration_ms) * kUnitsPerMs;
    return c->SetDeclaredDuration(&duration);
  });
}

HRESULT make_dmo(graph_rec *g, REFCLSID dmo, IBaseFilter **out)
{
  return set_up<IDMOWrapperFilter>(g, create(CLSID_DMOWrapperFilter, out), out, IID_IDMOWrapperFilter,
                                       [&](IDMOWrapperFilter *w) { return w->Init(dmo, DMOCATEGORY_AUDIO_DECODER); });
}

// --- connections ---

std::vector<IPin *> pins(IBaseFilter *f, PIN_DIRECTION want)
{
  std::vector<IPin *> found;
  IEnumPins *e = nullptr;
  if (FAILED(f->EnumPins(&e))) return found;
  for (IPin *p = nullptr; e->Next(1, &p, nullptr) == S_OK; p = nullptr) {
    PIN_INFO info{};
    bool keep = SUCCEEDED(p->QueryPinInfo(&info)) && info.dir == want;
    if (info.pFilter) info.pFilter->Release();
    if (keep) {
      try {
        found.push_back(p);
        continue;
      } catch (...) {
      }
    }
    p->Release();
  }
  e->Release();
  return found;
}

HRESULT connect(graph_rec *g, IBaseFilter *up, IBaseFilter *down)
{
  HRESULT hr = E_FAIL;
  std::vector<IPin *> outs = pins(up, PINDIR_OUTPUT), ins = pins(down, PINDIR_INPUT);
  for (IPin *o : outs)
    for (IPin *i : ins)
      if (FAILED(hr) && SUCCEEDED(g->builder->ConnectDirect(o, i, nullptr))) hr = S_OK;
  for (IPin *p : outs) p->Release();
  for (IPin *p : ins) p->Release();
  return hr;
}

// --- the three graphs ---

HRESULT build_wma(graph_rec *g)
{
  IBaseFilter *reader, *wma, *voice = nullptr, *resampler, *renderer;
  HRESULT hr = make_source(g, CLSID_WMAsfReader, &reader);
  if (SUCCEEDED(hr)) hr = make_dmo(g, CLSID_CWMADecMediaObject, &wma);
  // A graph without the voice decoder still takes plain WMA.
  if (SUCCEEDED(hr)) make_dmo(g, CLSID_CWMSPDecMediaObject, &voice);
  if (SUCCEEDED(hr)) hr = make_resampler(g, &resampler);
  if (SUCCEEDED(hr)) hr = make_renderer(g, &renderer);
  if (FAILED(hr)) return hr;
  IBaseFilter *decoder = wma;
  if (FAILED(connect(g, reader, wma))) {
    if (!voice || FAILED(hr = connect(g, reader, voice))) return FAILED(hr) ? hr : E_FAIL;
    decoder = voice;
  }
  if (FAILED(hr = connect(g, decoder, resampler))) return hr;
  return connect(g, resampler, renderer);
}

HRESULT build_mp3(graph_rec *g)
{
  IBaseFilter *source, *parser, *acm, *resampler, *renderer;
  HRESULT hr = make_source(g, CLSID_AsyncReader, &source);
  if (SUCCEEDED(hr)) hr = make_mp3_parser(g, &parser);
  if (SUCCEEDED(hr)) hr = make_system(g, CLSID_ACMWrapper, &acm);
  if (SUCCEEDED(hr)) hr = make_resampler(g, &resampler);
  if (SUCCEEDED(hr)) hr = make_renderer(g, &renderer);
  if (SUCCEEDED(hr)) hr = connect(g, source, parser);
  if (SUCCEEDED(hr)) hr = connect(g, parser, acm);
  if (SUCCEEDED(hr)) hr = connect(g, acm, resampler);
  if (SUCCEEDED(hr)) hr = connect(g, resampler, renderer);
  return hr;
}

bool read_wav_info(const std::u16string &path, wav_info *info)
{
  char *utf8 = nullptr;
  if (!utf8_from_wcs2(reinterpret_cast<const sys_wchar *>(path.c_str()), &utf8)) return false;
  int fd = SYS_FILE_INVALID;
  bool ok = utf8file_open_read(&fd, utf8) && wav_info_parse(info, fd);
  sys_file_close(fd);
  sys_alloc_free(utf8);
  return ok;
}

// Parser to resampler by the format: compressed data through the ACM
// wrapper, three or more channels through the downmix, since the resampler
// converts between one and two channels only.
HRESULT connect_wav_decoder(graph_rec *g, IBaseFilter *parser, IBaseFilter *acm, IBaseFilter *downmix,
                            IBaseFilter *resampler)
{
  wav_info info;
  if (!read_wav_info(g->path, &info)) return E_FAIL;
  HRESULT hr;
  switch (info.format_tag) {
  case WAVE_FORMAT_PCM:
  case WAVE_FORMAT_EXTENSIBLE:
    if (info.channels < 3) return connect(g, parser, resampler);
    return FAILED(hr = connect(g, parser, downmix)) ? hr : connect(g, downmix, resampler);
  case 2:
  case 17:
  case WAVE_FORMAT_MPEG:
  case WAVE_FORMAT_MPEGLAYER3:
    return FAILED(hr = connect(g, parser, acm)) ? hr : connect(g, acm, resampler);
  default:
    return E_FAIL;
  }
}

HRESULT build_wav(graph_rec *g)
{
  IBaseFilter *source, *parser, *acm, *downmix, *resampler, *renderer;
  HRESULT hr = make_source(g, CLSID_AsyncReader, &source);
  if (SUCCEEDED(hr)) hr = make_system(g, CLSID_WAVEParser, &parser);
  if (SUCCEEDED(hr)) hr = make_system(g, CLSID_ACMWrapper, &acm);
  if (SUCCEEDED(hr)) hr = make_downmix(g, &downmix);
  if (SUCCEEDED(hr)) hr = make_resampler(g, &resampler);
  if (SUCCEEDED(hr)) hr = make_renderer(g, &renderer);
  if (SUCCEEDED(hr)) hr = connect(g, source, parser);
  if (SUCCEEDED(hr)) hr = connect_wav_decoder(g, parser, acm, downmix, resampler);
  if (SUCCEEDED(hr)) hr = connect(g, resampler, renderer);
  return hr;
}

HRESULT build(graph_rec *g, graph_kind kind)
{
  IFilterGraph *fg = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                reinterpret_cast<void **>(&fg));
  if (FAILED(hr)) return hr;
  hr = query(fg, IID_IGraphBuilder, &g->builder);
  fg->Release();
  if (FAILED(hr)) return hr;
  switch (kind) {
  case GRAPH_WMA: return build_wma(g);
  case GRAPH_MP3: return build_mp3(g);
  case GRAPH_WAV: return build_wav(g);
  default: return E_FAIL;
  }
}

// The path in UTF-16, as the graph's filters take it.  A name that is not
// UTF-8 (a Latin-1 name from an old disk) has no UTF-16 form (the
// conversion would stop at its first such byte): the file is opened here
// and the graph opens it again by its descriptor's name under /proc/self/fd,
// which stays valid while held is open.
bool wide_path(const char *path, own::file *held, std::u16string *out)
{
  std::string by_fd;
  if (!xml_gen_is_legal_value(path)) {
    if (!utf8file_open_read(&held->fd, path)) return false;
    by_fd = "/proc/self/fd/" + std::to_string(held->fd);
    path = by_fd.c_str();
  }
  sys_wchar *w = nullptr;
  if (!utf8_to_wcs2(path, &w)) return false;
  bool ok = true;
  try {
    *out = reinterpret_cast<const char16_t *>(w);
  } catch (...) {
    ok = false;
  }
  sys_alloc_free(w);
  return ok;
}

graph_kind kind_of_extension(const char *path)
{
  const char *dot = path_dot_suffix(path);
  if (!*dot) return GRAPH_NONE;
  if (!sys_str_case_diff(dot, ".wma")) return GRAPH_WMA;
  if (!sys_str_case_diff(dot, ".mp3")) return GRAPH_MP3;
  if (!sys_str_case_diff(dot, ".wav")) return GRAPH_WAV;
  return GRAPH_NONE;
}

graph_kind kind_of_mime(const char *mime)
{
  if (mimetype_sub_equal(mime, "x-ms-wma")) return GRAPH_WMA;
  if (mimetype_sub_equal(mime, "mpeg")) return GRAPH_MP3;
  if (mimetype_sub_equal(mime, "wav")) return GRAPH_WAV;
  return GRAPH_NONE;
}

// --- the sample sink ---

class lpcm_delegate_callback final : public DelegateCallback {
 public:
  explicit lpcm_delegate_callback(msf_lpcm_out *o) : out_(o) {}
  HRESULT Receive(IMediaSample *sample) override
  {
    if (!out_->budget) return E_FAIL;  // all sent: the renderer ends the stream
    BYTE *p = nullptr;
    if (FAILED(sample->GetPointer(&p))) return E_FAIL;
    LONG n = sample->GetActualDataLength();
    if (n <= 0) return S_OK;
    // Little-endian samples to the network order of audio/L16.
    for (LONG i = 0; i + 1 < n; i += 2) {
      BYTE b = p[i];
      p[i] = p[i + 1];
      p[i + 1] = b;
    }
    if (msf_lpcm_out_put(out_, p, uint32_t(n))) return S_OK;
    send_failed_ = true;
    return E_FAIL;
  }
  bool send_failed() const { return send_failed_; }

 private:
  msf_lpcm_out *out_;
  bool send_failed_ = false;
};

HRESULT seek_to(IGraphBuilder *b, uint32_t start_ms)
{
  if (!start_ms) return S_OK;
  IMediaSeeking *s = nullptr;
  HRESULT hr = query(b, IID_IMediaSeeking, &s);
  if (FAILED(hr)) return hr;
  LONGLONG at = LONGLONG(start_ms) * kUnitsPerMs;
  hr = s->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
  if (SUCCEEDED(hr)) hr = s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  s->Release();
  return hr;
}

// Runs the built graph to its end; S_OK only when it completed, or when the
// sink ended it with the whole budget sent: the sources upstream may then
// report the refused samples as an abort, which is not a failure of ours.
HRESULT run(IGraphBuilder *b, uint32_t start_ms, const msf_lpcm_out *out)
{
  IMediaControl *control = nullptr;
  IMediaEvent *events = nullptr;
  HRESULT hr = seek_to(b, start_ms);
  if (SUCCEEDED(hr)) hr = query(b, IID_IMediaControl, &control);
  if (SUCCEEDED(hr)) hr = query(b, IID_IMediaEvent, &events);
  if (SUCCEEDED(hr)) hr = control->Run();
  LONG code = 0;
  if (SUCCEEDED(hr)) hr = events->WaitForCompletion(LONG(INFINITE), &code);
  // Stopped before the sink is finished: no Receive runs after this.
  if (control) control->Stop();
  if (SUCCEEDED(hr) && code != EC_COMPLETE && out->budget != 0) hr = E_FAIL;
  if (events) events->Release();
  if (control) control->Release();
  return hr;
}

int graph_stream(const msf_lpcm_job *job, msf_lpcm_out *out, graph_kind kind)
{
  if (FAILED(CoInitialize(nullptr))) return 0;
  lpcm_delegate_callback sink(out);
  own::file held;
  graph_rec g;
  g.rate = job->rate;
  g.channels = job->channels;
  g.duration_ms = job->duration_ms;
  g.sink = &sink;
  bool ok = wide_path(job->path, &held, &g.path) && SUCCEEDED(build(&g, kind)) && SUCCEEDED(run(g.builder, job->start_ms, out)) &&
            !sink.send_failed() && msf_lpcm_out_finish(out);
  graph_release(&g);
  CoUninitialize();
  return ok;
}

}  // namespace

extern "C" {

int lpcm_decodable(const char *path, const char *mime)
{
  if (kind_of_extension(path) == GRAPH_NONE) {
    int fd = SYS_FILE_INVALID;
    int ok = utf8file_open_read(&fd, path) && lpcm_vorbis_decodable_fd(fd);
    sys_file_close(fd);
    return ok;
  }
  graph_kind kind = kind_of_mime(mime);
  if (kind == GRAPH_NONE || FAILED(CoInitialize(nullptr))) return 0;
  own::file held;
  graph_rec g;
  g.rate = MSF_LPCM_RATE_DAT;
  g.channels = 2;
  bool ok = wide_path(path, &held, &g.path) && SUCCEEDED(build(&g, kind));
  graph_release(&g);
  CoUninitialize();
  return ok;
}

int lpcm_decode(const msf_lpcm_job *job, msf_lpcm_out *out)
{
  graph_kind kind = kind_of_extension(job->path);
  if (kind != GRAPH_NONE) return graph_stream(job, out, kind);
  int fd = SYS_FILE_INVALID;
  int ok = utf8file_open_read(&fd, job->path) && lpcm_vorbis_stream_fd(fd, job, out);
  sys_file_close(fd);
  return ok;
}

}  // extern "C"
