/* The downmix filter's settings object: the record under its lock with the
 * rebuild and dirty flags, field access in accessor order with clamping,
 * the preset, and the 144-byte stream block. */
#ifndef TARVO_SALTREY_DOWNMIX_SETTINGS_H
#define TARVO_SALTREY_DOWNMIX_SETTINGS_H

#include <saltrey/saltrey.h>
#include <tarvo_com/com_persist.h>

#include <atomic>
#include <mutex>

#define DOWNMIX_FIELDS 31
#define DOWNMIX_STREAM_BYTES 144

/* The record field that accessor k (0-30) addresses. */
int downmix_accessor_field(int k);
/* v clamped to the range of record field f. */
int32_t downmix_clamp_field(int f, int32_t v);
/* The record of preset index, or NULL. */
const DownmixSettings *downmix_preset(int index);
/* The preset's name into name[chars], cut and terminated when long;
 * E_INVALIDARG for another index, a NULL buffer or chars <= 0. */
HRESULT downmix_preset_name(int index, WCHAR *name, int chars);

class DownmixSettingsObject {
 public:
  DownmixSettingsObject();

  void Get(DownmixSettings *out);
  /* Stores, flags the change and clamps every field. */
  void Set(const DownmixSettings *in);
  /* Accessor k; read without the lock, as the getters are. */
  int32_t GetField(int k) const;
  /* Stores the clamped value only when it differs. */
  void SetField(int k, int32_t v);
  /* The record for a matrix build when it changed since the last one. */
  bool TakeChanged(DownmixSettings *out);
  bool IsDirty() const { return m_dirty; }

  /* E_FAIL for a short block or a wrong size or id, with the record
   * unchanged; stream errors as they come. */
  HRESULT Load(IStream *stream);
  HRESULT Save(IStream *stream, BOOL clearDirty);

 private:
  int32_t *Field(int f) { return reinterpret_cast<int32_t *>(&m_rec) + f; }
  const int32_t *Field(int f) const { return reinterpret_cast<const int32_t *>(&m_rec) + f; }

  mutable std::mutex m_lock;
  DownmixSettings m_rec{};
  std::atomic<bool> m_rebuild{false}, m_dirty{false};
};

#endif
