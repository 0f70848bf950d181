// The settings object: clamping and change flags, the accessor order over
// the record, the preset name, and the stream block saved and loaded.
#include "downmix_settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

IStream *stream_with(const BYTE *data, ULONG n)
{
  IStream *s = nullptr;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
  ULONG put = 0;
  if (n) s->Write(data, n, &put);
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  return s;
}

TEST(DownmixSettings, ClampingOrderAndFlags)
{
  DownmixSettingsObject o;
  DownmixSettings r;
  o.Get(&r);
  EXPECT_EQ(std::memcmp(&r, downmix_preset(0), sizeof r), 0);
  EXPECT_TRUE(o.IsDirty());
  EXPECT_TRUE(o.TakeChanged(&r));
  EXPECT_FALSE(o.TakeChanged(&r));

  o.SetField(0, 7);
  EXPECT_EQ(o.GetField(0), 3);
  o.SetField(9, -5);  // left gain C
  EXPECT_EQ(o.GetField(9), 0);
  o.SetField(9, 300);
  EXPECT_EQ(o.GetField(9), 255);
  o.SetField(19, 2);  // left phase L
  EXPECT_EQ(o.GetField(19), 1);
  // Accessor order L, R, C, SL, SR, LFE over FL, FR, FC, LFE, BL, BR.
  EXPECT_EQ(downmix_accessor_field(12), 10);  // left gain LFE
  EXPECT_EQ(downmix_accessor_field(10), 11);  // left gain SL
  EXPECT_EQ(downmix_accessor_field(18), 16);
  EXPECT_EQ(downmix_accessor_field(24), 24);
  o.SetField(12, 77);
  o.Get(&r);
  EXPECT_EQ(r.left_gain[3], 77);
  EXPECT_TRUE(o.TakeChanged(&r));

  // The same value again is no change.
  IStream *s = stream_with(nullptr, 0);
  ASSERT_EQ(o.Save(s, TRUE), S_OK);
  s->Release();
  EXPECT_FALSE(o.IsDirty());
  o.SetField(12, 77);
  EXPECT_FALSE(o.IsDirty());
  EXPECT_FALSE(o.TakeChanged(&r));
  o.SetField(3, 1);
  EXPECT_TRUE(o.IsDirty());

  DownmixSettings wild{};
  wild.method = -4;
  wild.loro_center = 99;
  wild.right_phase[5] = -1;
  o.Set(&wild);
  o.Get(&r);
  EXPECT_EQ(r.method, 0);
  EXPECT_EQ(r.loro_center, 4);
  EXPECT_EQ(r.right_phase[5], 0);
}

TEST(DownmixSettings, PresetName)
{
  WCHAR name[16];
  ASSERT_EQ(downmix_preset_name(0, name, 16), S_OK);
  EXPECT_EQ(std::u16string(name), u"\u30C7\u30D5\u30A9\u30EB\u30C8");
  WCHAR small[3] = {'x', 'x', 'x'};
  ASSERT_EQ(downmix_preset_name(0, small, 3), S_OK);
  EXPECT_EQ(small[2], 0);  // cut and terminated
  EXPECT_EQ(downmix_preset_name(0, name, 0), E_INVALIDARG);
  EXPECT_EQ(downmix_preset_name(0, nullptr, 5), E_INVALIDARG);
  EXPECT_EQ(downmix_preset_name(1, name, 16), E_INVALIDARG);
}

TEST(DownmixSettings, StreamBlock)
{
  DownmixSettingsObject a;
  a.SetField(3, 1);
  IStream *s = stream_with(nullptr, 0);
  ASSERT_EQ(a.Save(s, FALSE), S_OK);
  EXPECT_TRUE(a.IsDirty());
  STATSTG st{};
  s->Stat(&st, STATFLAG_NONAME);
  ASSERT_EQ(st.cbSize.QuadPart, 144u);
  BYTE block[144];
  ULONG got = 0;
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  s->Read(block, 144, &got);
  s->Release();
  const BYTE head[8] = {0x90, 0, 0, 0, 0xA1, 0xEC, 0xBF, 0xB6};
  EXPECT_EQ(std::memcmp(block, head, 8), 0);

  DownmixSettingsObject b;
  b.SetField(0, 2);
  s = stream_with(block, 144);
  ASSERT_EQ(b.Load(s), S_OK);
  s->Release();
  DownmixSettings ra, rb;
  a.Get(&ra);
  b.Get(&rb);
  EXPECT_EQ(std::memcmp(&ra, &rb, sizeof ra), 0);

  // A block one byte short, a wrong size word and a wrong id leave the
  // record as it was.
  DownmixSettingsObject c;
  c.SetField(0, 2);
  BYTE bad[144];
  for (int which = 0; which < 3; which++) {
    std::memcpy(bad, block, 144);
    ULONG n = 144;
    if (which == 0) n = 143;
    if (which == 1) bad[0] = 0x8F;
    if (which == 2) bad[10] ^= 1;
    s = stream_with(bad, n);
    EXPECT_EQ(c.Load(s), E_FAIL) << which;
    s->Release();
    EXPECT_EQ(c.GetField(0), 2) << which;
  }
}

}  // namespace
