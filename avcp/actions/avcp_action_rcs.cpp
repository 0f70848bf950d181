// RenderingControl actions as rows on the action engine: presets, the
// twelve picture settings, and mute, volume and loudness per channel.
#include "avcp_action_impl.h"

namespace {

using avcp::action;
using avcp::rcs_type;
using avcp::reading;

// A picture setting: GetX answers CurrentX, SetX sends DesiredX.
#define RCS_SETTING(stem, Name)                                                                    \
  constexpr action rcs_get_##stem{rcs_type, "Get" #Name, 500, reading::numbers, "InstanceID", "Current" #Name}; \
  constexpr action rcs_set_##stem{rcs_type, "Set" #Name, 500, reading::none, "InstanceID Desired" #Name, ""};

RCS_SETTING(brightness, Brightness)
RCS_SETTING(contrast, Contrast)
RCS_SETTING(sharpness, Sharpness)
RCS_SETTING(red_video_gain, RedVideoGain)
RCS_SETTING(green_video_gain, GreenVideoGain)
RCS_SETTING(blue_video_gain, BlueVideoGain)
RCS_SETTING(red_video_black_level, RedVideoBlackLevel)
RCS_SETTING(green_video_black_level, GreenVideoBlackLevel)
RCS_SETTING(blue_video_black_level, BlueVideoBlackLevel)
RCS_SETTING(color_temperature, ColorTemperature)
RCS_SETTING(horizontal_keystone, HorizontalKeystone)
RCS_SETTING(vertical_keystone, VerticalKeystone)
#undef RCS_SETTING

constexpr action rcs_list_presets{rcs_type, "ListPresets", 500, reading::single, "InstanceID",
                                  "CurrentPresetNameList"};
constexpr action rcs_select_preset{rcs_type, "SelectPreset", 500, reading::none, "InstanceID PresetName", ""};
constexpr action rcs_get_mute{rcs_type, "GetMute", 500, reading::numbers, "InstanceID Channel", "CurrentMute"};
constexpr action rcs_set_mute{rcs_type, "SetMute", 500, reading::none, "InstanceID Channel DesiredMute", ""};
constexpr action rcs_get_volume{rcs_type, "GetVolume", 500, reading::numbers, "InstanceID Channel", "CurrentVolume"};
constexpr action rcs_set_volume{rcs_type, "SetVolume", 500, reading::none, "InstanceID Channel DesiredVolume", ""};
constexpr action rcs_get_volume_db{rcs_type, "GetVolumeDB", 500, reading::numbers, "InstanceID Channel",
                                   "CurrentVolume"};
constexpr action rcs_set_volume_db{rcs_type, "SetVolumeDB", 500, reading::none, "InstanceID Channel DesiredVolume",
                                   ""};
constexpr action rcs_get_volume_db_range{rcs_type, "GetVolumeDBRange", 500, reading::numbers, "InstanceID Channel",
                                         "MinValue MaxValue"};
constexpr action rcs_get_loudness{rcs_type, "GetLoudness", 500, reading::numbers, "InstanceID Channel",
                                  "CurrentLoudness"};
constexpr action rcs_set_loudness{rcs_type, "SetLoudness", 500, reading::none, "InstanceID Channel DesiredLoudness",
                                  ""};

}  // namespace

extern "C" {
AVCP_RCS_ACTIONS_OUT(AVCP_DEFINE_OUT)
AVCP_RCS_ACTIONS_NONE(AVCP_DEFINE_NONE)
}
