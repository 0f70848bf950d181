// AVTransport and ConnectionManager actions as rows on the action engine.
#include "avcp_action_impl.h"

namespace {

using avcp::action;
using avcp::avts_type;
using avcp::cms_type;
using avcp::reading;

constexpr action avts_set_av_transport_uri{avts_type, "SetAVTransportURI", 500, reading::none,
                                           "InstanceID CurrentURI CurrentURIMetaData", ""};
constexpr action avts_set_next_av_transport_uri{avts_type, "SetNextAVTransportURI", 500, reading::none,
                                                "InstanceID NextURI NextURIMetaData", ""};
constexpr action avts_get_media_info{avts_type, "GetMediaInfo", 500, reading::multi, "InstanceID",
                                     "NrTracks MediaDuration CurrentURI CurrentURIMetaData NextURI "
                                     "NextURIMetaData PlayMedium RecordMedium WriteStatus"};
constexpr action avts_get_transport_info{avts_type, "GetTransportInfo", 500, reading::multi, "InstanceID",
                                         "CurrentTransportState CurrentTransportStatus CurrentSpeed"};
constexpr action avts_get_position_info{avts_type, "GetPositionInfo", 500, reading::multi, "InstanceID",
                                        "Track TrackDuration TrackMetaData TrackURI RelTime AbsTime RelCount "
                                        "AbsCount"};
constexpr action avts_get_device_capabilities{avts_type, "GetDeviceCapabilities", 500, reading::multi,
                                              "InstanceID", "PlayMedia RecMedia RecQualityModes"};
constexpr action avts_get_transport_settings{avts_type, "GetTransportSettings", 500, reading::multi, "InstanceID",
                                             "PlayMode RecQualityMode"};
constexpr action avts_stop{avts_type, "Stop", 500, reading::none, "InstanceID", ""};
constexpr action avts_play{avts_type, "Play", 500, reading::none, "InstanceID Speed", ""};
constexpr action avts_pause{avts_type, "Pause", 500, reading::none, "InstanceID", ""};
constexpr action avts_record{avts_type, "Record", 500, reading::none, "InstanceID", ""};
constexpr action avts_seek{avts_type, "Seek", 500, reading::none, "InstanceID Unit Target", ""};
constexpr action avts_next{avts_type, "Next", 500, reading::none, "InstanceID", ""};
constexpr action avts_previous{avts_type, "Previous", 500, reading::none, "InstanceID", ""};
constexpr action avts_set_play_mode{avts_type, "SetPlayMode", 500, reading::none, "InstanceID NewPlayMode", ""};
constexpr action avts_set_record_quality_mode{avts_type, "SetRecordQualityMode", 500, reading::none,
                                              "InstanceID NewRecordQualityMode", ""};
constexpr action avts_get_current_transport_actions{avts_type, "GetCurrentTransportActions", 500, reading::single,
                                                    "InstanceID", "Actions"};

constexpr action cms_get_protocol_info{cms_type, "GetProtocolInfo", 200, reading::multi, "", "Source Sink"};
constexpr action cms_prepare_for_connection{
    cms_type, "PrepareForConnection", 500, reading::numbers,
    "RemoteProtocolInfo PeerConnectionManager PeerConnectionID Direction", "ConnectionID AVTransportID RcsID"};
constexpr action cms_connection_complete{cms_type, "ConnectionComplete", 500, reading::none, "ConnectionID", ""};
constexpr action cms_get_current_connection_ids{cms_type, "GetCurrentConnectionIDs", 200, reading::single, "",
                                                "ConnectionIDs"};
constexpr action cms_get_current_connection_info{
    cms_type, "GetCurrentConnectionInfo", 500, reading::multi, "ConnectionID",
    "RcsID AVTransportID ProtocolInfo PeerConnectionManager PeerConnectionID Direction Status"};

}  // namespace

extern "C" {
AVCP_AVTS_ACTIONS_OUT(AVCP_DEFINE_OUT)
AVCP_AVTS_ACTIONS_NONE(AVCP_DEFINE_NONE)
AVCP_CMS_ACTIONS_OUT(AVCP_DEFINE_OUT)
AVCP_CMS_ACTIONS_NONE(AVCP_DEFINE_NONE)
}
