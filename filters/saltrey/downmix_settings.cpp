// The downmix settings record: ranges, accessor order, preset and stream
// block.
#include "downmix_settings.h"

#include <cstring>

namespace {

// Record fields 1-6 are level codes, 7-18 gain indexes, 19-30 flags.
int32_t field_max(int f)
{
  if (f == 0) return 3;
  if (f <= 6) return 4;
  if (f <= 18) return 255;
  return 1;
}

const DownmixSettings kPreset0 = {0, 2, 2, 0, 2, 2, 0, {1, 0, 16, 0, 16, 0}, {0, 1, 16, 0, 0, 16}, {}, {}};

// The library's strings, by id.
const char16_t kPresetName0[] = u"\u30C7\u30D5\u30A9\u30EB\u30C8";

}  // namespace

int downmix_accessor_field(int k)
{
  // The gain accessors run L, R, C, SL, SR, LFE over a record that keeps
  // FL, FR, FC, LFE, BL, BR.
  static const int gain_field[6] = {0, 1, 2, 4, 5, 3};
  if (k >= 7 && k <= 12) return 7 + gain_field[k - 7];
  if (k >= 13 && k <= 18) return 13 + gain_field[k - 13];
  return k;
}

int32_t downmix_clamp_field(int f, int32_t v)
{
  int32_t hi = field_max(f);
  return v < 0 ? 0 : v > hi ? hi : v;
}

const DownmixSettings *downmix_preset(int index)
{
  return index == 0 ? &kPreset0 : nullptr;
}

HRESULT downmix_preset_name(int index, WCHAR *name, int chars)
{
  if (index != 0 || !name || chars <= 0) return E_INVALIDARG;
  size_t n = std::char_traits<char16_t>::length(kPresetName0);
  if (n > size_t(chars) - 1) n = size_t(chars) - 1;
  std::memcpy(name, kPresetName0, n * sizeof(WCHAR));
  name[n] = 0;
  return S_OK;
}

DownmixSettingsObject::DownmixSettingsObject()
{
  Set(&kPreset0);
}

void DownmixSettingsObject::Get(DownmixSettings *out)
{
  std::lock_guard<std::mutex> l(m_lock);
  *out = m_rec;
}

void DownmixSettingsObject::Set(const DownmixSettings *in)
{
  std::lock_guard<std::mutex> l(m_lock);
  const int32_t *from = reinterpret_cast<const int32_t *>(in);
  for (int f = 0; f < DOWNMIX_FIELDS; f++) __atomic_store_n(Field(f), downmix_clamp_field(f, from[f]), __ATOMIC_RELAXED);
  m_rebuild = m_dirty = true;
}

int32_t DownmixSettingsObject::GetField(int k) const
{
  if (k < 0 || k >= DOWNMIX_FIELDS) return 0;
  return __atomic_load_n(Field(downmix_accessor_field(k)), __ATOMIC_RELAXED);
}

void DownmixSettingsObject::SetField(int k, int32_t v)
{
  if (k < 0 || k >= DOWNMIX_FIELDS) return;
  int f = downmix_accessor_field(k);
  v = downmix_clamp_field(f, v);
  std::lock_guard<std::mutex> l(m_lock);
  if (*Field(f) == v) return;
  __atomic_store_n(Field(f), v, __ATOMIC_RELAXED);
  m_rebuild = m_dirty = true;
}

bool DownmixSettingsObject::TakeChanged(DownmixSettings *out)
{
  std::lock_guard<std::mutex> l(m_lock);
  if (!m_rebuild) return false;
  *out = m_rec;
  m_rebuild = false;
  return true;
}

HRESULT DownmixSettingsObject::Load(IStream *stream)
{
  if (!stream) return E_POINTER;
  BYTE block[DOWNMIX_STREAM_BYTES];
  ULONG got = 0;
  HRESULT hr = stream->Read(block, 20, &got);
  if (FAILED(hr)) return hr;
  uint32_t size = uint32_t(block[0]) | uint32_t(block[1]) << 8 | uint32_t(block[2]) << 16 | uint32_t(block[3]) << 24;
  if (got != 20 || size != DOWNMIX_STREAM_BYTES || std::memcmp(block + 4, &IID_IDownmixSettings, 16) != 0)
    return E_FAIL;
  hr = stream->Read(block + 20, sizeof(DownmixSettings), &got);
  if (FAILED(hr)) return hr;
  if (got != sizeof(DownmixSettings)) return E_FAIL;  // a short record changes nothing
  DownmixSettings rec;
  std::memcpy(&rec, block + 20, sizeof rec);
  Set(&rec);
  return S_OK;
}

HRESULT DownmixSettingsObject::Save(IStream *stream, BOOL clearDirty)
{
  if (!stream) return E_POINTER;
  BYTE block[DOWNMIX_STREAM_BYTES];
  uint32_t size = DOWNMIX_STREAM_BYTES;
  for (int i = 0; i < 4; i++) block[i] = BYTE(size >> (8 * i));
  std::memcpy(block + 4, &IID_IDownmixSettings, 16);
  for (int f = 0; f < DOWNMIX_FIELDS; f++) {
    int32_t v = __atomic_load_n(Field(f), __ATOMIC_RELAXED);
    std::memcpy(block + 20 + 4 * f, &v, 4);
  }
  ULONG put = 0;
  HRESULT hr = stream->Write(block, sizeof block, &put);
  if (FAILED(hr)) return hr;
  if (put != sizeof block) return E_FAIL;
  m_dirty = !clearDirty;
  return S_OK;
}
