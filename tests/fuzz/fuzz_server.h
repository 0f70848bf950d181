// A content database in a scratch folder for the server's fuzz targets: a
// root with an L16 item, an MPEG-2 program-stream item, a plain MP3 item
// (private), each with a small file, and a musicAlbum container with a
// reference to the first.  Entered once, in a network namespace of its own when
// the system allows one.
#pragma once

#include <vennard/connection_manager.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include "../common/ps_stream.h"
#include "fuzz_scratch.h"

#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <string>
#include <sys/stat.h>

namespace fuzz_server {

inline void put(const std::string &path, const std::string &text)
{
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline server_rec *server()
{
  static server_rec *s = [] {
    unshare(CLONE_NEWNET);
    std::string home = fuzz_scratch::folder("tarvo-fuzz-server-"), conf = home + "/conf";
    for (const char *d : {"", "/filetype", "/sync", "/sync/share", "/sync/data", "/access", "/access/allow",
                          "/access/deny"})
      mkdir((conf + d).c_str(), 0700);
    put(conf + "/http_port", "0");
    put(conf + "/sync/share/list", "");
    put(conf + "/filetype/mp3", "audio/mpeg");
    put(home + "/a.lpcm", std::string(17640, '\1'));
    put(home + "/a.mpg", tarvo_test::ps_stream(20, 420));
    put(home + "/a.mp3", std::string(1000, 'x'));
    const std::string ns = "xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                           "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
                           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                           "xmlns:tarvo=\"urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/\"";
    auto item = [&](const char *id, const char *parent, const char *title, const std::string &res,
                    const char *extra) {
      return std::string("<item id=\"") + id + "\" parentID=\"" + parent + "\" restricted=\"1\"" + extra +
             "><dc:title>" + title + "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>" +
             "<upnp:originalTrackNumber>" + id + "</upnp:originalTrackNumber>" + res + "</item>\n";
    };
    put(conf + "/data.xml",
        "<DIDL-Lite " + ns + ">\n"
        "<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"1\" childCount=\"4\" "
        "tarvo:containerUpdateID=\"0\" tarvo:maxObjectID=\"20\" tarvo:children=\"1,2,3,4\">"
        "<dc:title>root</dc:title><upnp:class>object.container</upnp:class></container>\n" +
        item("1", "0", "l16",
             "<res protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_OP=10\" "
             "duration=\"0:00:00.100\" bitrate=\"176400\" tarvo:filename=\"" + home + "/a.lpcm\">/1-5.lpcm</res>",
             " tarvo:referenced=\"9\"") +
        item("2", "0", "mpeg",
             "<res protocolInfo=\"http-get:*:video/mpeg:DLNA.ORG_OP=10\" duration=\"0:00:02.000\" "
             "bitrate=\"4000\" tarvo:filename=\"" + home + "/a.mpg\">/2-6.mpg</res>",
             "") +
        item("3", "0", "mp3", "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"" + home +
                                  "/a.mp3\">/3-7.mp3</res><upnp:albumArtURI tarvo:filename=\"" + home +
                                  "/a.mp3\">/3-8.mp3</upnp:albumArtURI>",
             " tarvo:private=\"1\"") +
        "<container id=\"4\" parentID=\"0\" restricted=\"0\" searchable=\"1\" childCount=\"1\" "
        "tarvo:containerUpdateID=\"0\" tarvo:children=\"9\"><dc:title>album</dc:title>"
        "<upnp:class>object.container.album.musicAlbum</upnp:class></container>\n"
        "<item id=\"9\" parentID=\"4\" restricted=\"1\" refID=\"1\"></item>\n"
        "</DIDL-Lite>\n");
    static server_rec rec{};
    if (!sys_str_clone(home.c_str(), &rec.data_home) || !cm_state_start(&rec) ||
        !content_db_start(&rec, home.c_str(), "fuzz"))
      std::abort();
    return &rec;
  }();
  return s;
}

}  // namespace fuzz_server
