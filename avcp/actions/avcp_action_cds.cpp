// ContentDirectory actions, with the system server's vendor share actions,
// as rows on the action engine.
#include "avcp_action_impl.h"

namespace {

using avcp::action;
using avcp::cds_type;
using avcp::reading;

constexpr action cds_get_search_capabilities{cds_type, "GetSearchCapabilities", 200, reading::single, "", "SearchCaps"};
constexpr action cds_get_sort_capabilities{cds_type, "GetSortCapabilities", 200, reading::single, "", "SortCaps"};
constexpr action cds_get_system_update_id{cds_type, "GetSystemUpdateID", 200, reading::numbers, "", "Id"};
constexpr action cds_browse_metadata{
    cds_type, "Browse", 500, reading::multi,
    "ObjectID BrowseFlag=BrowseMetadata Filter StartingIndex=0 RequestedCount=1 SortCriteria=",
    "Result NumberReturned=1 TotalMatches=1 UpdateID"};
constexpr action cds_browse_direct_children{
    cds_type, "Browse", 500, reading::multi,
    "ObjectID BrowseFlag=BrowseDirectChildren Filter StartingIndex RequestedCount SortCriteria",
    "Result NumberReturned TotalMatches UpdateID"};
constexpr action cds_search{cds_type, "Search", 1000, reading::multi,
                            "ContainerID SearchCriteria Filter StartingIndex RequestedCount SortCriteria",
                            "Result NumberReturned TotalMatches UpdateID"};
constexpr action cds_create_object{cds_type, "CreateObject", 1000, reading::multi, "ContainerID Elements",
                                   "ObjectID Result"};
constexpr action cds_destroy_object{cds_type, "DestroyObject", 200, reading::none, "ObjectID", ""};
constexpr action cds_update_object{cds_type, "UpdateObject", 1000, reading::none,
                                   "ObjectID CurrentTagValue NewTagValue", ""};
constexpr action cds_import_resource{cds_type, "ImportResource", 300, reading::numbers,
                                     "SourceURI DestinationURI", "TransferID"};
constexpr action cds_export_resource{cds_type, "ExportResource", 300, reading::numbers,
                                     "SourceURI DestinationURI", "TransferID"};
constexpr action cds_stop_transfer_resource{cds_type, "StopTransferResource", 200, reading::none, "TransferID", ""};
constexpr action cds_get_transfer_progress{cds_type, "GetTransferProgress", 200, reading::multi, "TransferID",
                                           "TransferStatus TransferLength TransferTotal"};
constexpr action cds_delete_resource{cds_type, "DeleteResource", 200, reading::none, "ResourceURI", ""};
constexpr action cds_create_reference{cds_type, "CreateReference", 300, reading::single, "ContainerID ObjectID",
                                      "NewID"};
constexpr action cds_share_list{cds_type, "X_ShareList", 200, reading::single, "", "PathList"};
constexpr action cds_share_state{cds_type, "X_ShareState", 200, reading::single, "Path", "State:bool"};
constexpr action cds_share{cds_type, "X_Share", 200, reading::none, "Path", ""};
constexpr action cds_unshare{cds_type, "X_Unshare", 200, reading::none, "Path", ""};

}  // namespace

extern "C" {
AVCP_CDS_ACTIONS_OUT(AVCP_DEFINE_OUT)
AVCP_CDS_ACTIONS_NONE(AVCP_DEFINE_NONE)
}
