// links: mirrow_fuzz tarvo_dshow_base tarvo_com
// The resample filter between a PCM source and a sink: an arbitrary format
// block through the input type check, then arbitrary samples through the
// transform at settings taken from the input.
#include <mirrow/mirrow.h>

#include "../common/dshow_chain.h"
#include "../common/pcm_chain.h"

#include <cstddef>
#include <cstdint>

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv);

namespace {

// First bytes: settings (rate, bits, channels, half-length), the source's
// buffer size and the format block's length; then the block; then samples.
constexpr size_t kHeader = 6;
constexpr size_t kMaxData = 256 * 1024;

IBaseFilter *make_filter()
{
  IClassFactory *factory = nullptr;
  if (FAILED(DllGetClassObject(CLSID_ResampleFilter, IID_IClassFactory, reinterpret_cast<void **>(&factory))))
    return nullptr;
  IBaseFilter *f = nullptr;
  factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void **>(&f));
  factory->Release();
  return f;
}

void run(IBaseFilter *filter, const uint8_t *data, size_t size)
{
  static const int rates[] = {8000, 11025, 22050, 44100, 48000, 96000, 0, 1000000};
  static const int bits[] = {8, 16, 20, 24, 32, 0, 12, 64};
  IResampleSettings *settings = nullptr;
  filter->QueryInterface(IID_IResampleSettings, reinterpret_cast<void **>(&settings));
  settings->SetSampleRate(rates[data[0] % 8]);
  settings->SetBitsPerSample(bits[data[1] % 8]);
  settings->SetChannels(data[2] % 9);
  settings->SetFilterHalfLength(data[3] % 20);
  settings->Release();
  size_t formatLength = std::min<size_t>(data[5] % 41, size - kHeader);
  const uint8_t *samples = data + kHeader + formatLength;
  size_t sampleBytes = std::min(size - kHeader - formatLength, kMaxData);

  auto *source = new PcmSource;
  auto *sink = new NullSink;
  source->NonDelegatingAddRef();
  sink->NonDelegatingAddRef();
  source->pin.type = audio_type(data + kHeader, ULONG(formatLength));
  source->pin.buffer = 512 + data[4] * 64;
  IPin *in = chain_pin(filter, PINDIR_INPUT), *out = chain_pin(filter, PINDIR_OUTPUT);
  if (source->pin.Connect(in, nullptr) == S_OK && out->Connect(&sink->pin, nullptr) == S_OK) {
    IBaseFilter *chain[] = {sink, filter, source};
    for (IBaseFilter *f : chain) f->Pause();
    for (IBaseFilter *f : chain) f->Run(0);
    source->pin.Push(samples, sampleBytes);
    for (IBaseFilter *f : chain) f->Stop();
  }
  for (IPin *p : {static_cast<IPin *>(&source->pin), in, out, static_cast<IPin *>(&sink->pin)}) p->Disconnect();
  in->Release();
  out->Release();
  source->NonDelegatingRelease();
  sink->NonDelegatingRelease();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < kHeader) return 0;
  IBaseFilter *filter = make_filter();
  if (!filter) return 0;
  run(filter, data, size);
  filter->Release();
  return 0;
}
