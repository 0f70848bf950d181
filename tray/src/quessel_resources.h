// The ids of quessel's resources: strings, menu 129, dialogs 131, 133, 140
// and 141, icons and bitmaps (PNG files beside the program).
#pragma once

#include <string>

enum : unsigned {
  QIDI_MAIN = 118,          // icon: server running
  QIDI_STOPPED = 162,       // icon: server stopped or unreachable
  QIDR_TRAY_MENU = 129,
  QIDD_QUERY = 131,
  QIDD_NOTICE = 133,
  QIDD_POPUP = 140,
  QIDD_SETTINGS = 141,
  QIDB_CLOSE = 145,
  QIDB_CLIENT = 156,
  QIDB_CLOSE_HOVER = 160,

  QIDS_NOTICE_TEXT = 119,
  QIDS_POPUP_MESSAGE = 120,
  QIDS_QUESTION = 123,
  QIDS_HOST_NAMED = 124,
  QIDS_HOST_BARE = 125,
  QIDS_REBUILD = 137,
  QIDS_START_TOOL = 32775,
  QIDS_NOTICE_EXTRA = 32777,

  QID_CMD_TOOL = 32772,
  QID_CMD_SETTINGS = 32773,
  QID_CMD_EXIT = 32774,
  QID_CMD_START = 32778,
  QID_CMD_STOP = 32779,
  QID_CMD_REBUILD = 32780,
};

// Types of the resource library's image items (PNG bytes): icons and
// bitmaps, as the ids above name them.
constexpr unsigned QRT_BITMAP = 2, QRT_GROUP_ICON = 14;
// Largest image item taken from the library: the panel's icons and the
// popup's bitmaps are a few kilobytes.
constexpr unsigned QUESSEL_IMAGE_MAX = 1u << 20;

// Hands the table to the desktop layer, behind the rows of the optional
// "Help_Resource.so" in the program's folder, and takes the images it
// holds; first thing in main.
void quessel_resources_init();
// The PNG file of an icon or bitmap id: the library's when it has a PNG
// for it, else the one beside the program ("" for an unknown id).
std::string quessel_image_path(unsigned id);
// Removes the library's images written out at start.
void quessel_resources_end();
