// The rewriting plug-ins called as the server calls them, through the
// entry points of the loaded modules: sidecar titles, album art and the
// rewrite frame they share.
#include <gtest/gtest.h>
#include <tarvo_msf.h>
#include <corda_common/msf_common.h>
#include <tarvo_test.h>
#include <tarvo_util/utf8file.h>

#include "../../plugins/corda_didl/include/corda_didl/corda_didl_limits.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using tarvo_test::scratch_dir;
using tarvo_test::write_file;

namespace {

// One plug-in module from bin/, with the two rewrite entry points.
struct module {
  void *handle = nullptr;
  tarvo_msf_as_rewrite_fn rewrite = nullptr;
  tarvo_msf_as_is_updated_fn is_updated = nullptr;
  explicit module(const std::string &name)
  {
    const char *bin = std::getenv("TARVO_BIN");
    std::string path = std::string(bin ? bin : "bin") + "/lib" + name + ".so";
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    rewrite = reinterpret_cast<tarvo_msf_as_rewrite_fn>(dlsym(handle, "tarvo_msf_as_rewrite"));
    is_updated = reinterpret_cast<tarvo_msf_as_is_updated_fn>(dlsym(handle, "tarvo_msf_as_is_updated"));
  }
  ~module()
  {
    if (handle) dlclose(handle);
  }
  // The rewritten text, or "(failed)".
  std::string run(const std::string &path, const char *mime, const std::string &text,
                  uint32_t capacity = TARVO_MSF_BUFFER_SIZE) const
  {
    std::vector<char> buf(capacity + 1, '#');
    if (!rewrite(path.c_str(), mime, text.c_str(), buf.data(), capacity)) return "(failed)";
    return buf.data();
  }
};

const std::string kRoot =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\" "
    "xmlns:tarvo=\"urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/\">";

std::string document(const std::string &object) { return "<?xml version=\"1.0\"?>\n" + kRoot + object + "</DIDL-Lite>"; }

// A sidecar as the title editor writes it, around the given properties.
std::string sidecar(const std::string &properties)
{
  return kRoot + "\r\n<item>\r\n" + properties + "</item>\r\n</DIDL-Lite>\r\n";
}

uint64_t file_time(const std::string &path)
{
  sys_file_stat_rec st;
  if (!utf8file_stat(path.c_str(), &st)) return 0;
  return uint64_t(st.mtime > st.ctime ? st.mtime : st.ctime);
}

// A JPEG of the given size: the frame header is all the size reader needs.
std::string jpeg(uint16_t width, uint16_t height)
{
  std::string j = "\xFF\xD8\xFF\xC0";
  j += std::string("\x00\x11\x08", 3);
  for (uint16_t v : {height, width}) j += {char(v >> 8), char(v & 0xFF)};
  j += '\x03';
  j += std::string(9, '\x01');
  return j + "\xFF\xD9";
}

const char *const kTrack =
    "<item id=\"7\" parentID=\"3\" restricted=\"0\">\n"
    "<dc:title>Old</dc:title>\n"
    "<upnp:artist>One</upnp:artist>\n"
    "<upnp:class>object.item.audioItem.musicTrack</upnp:class>\n"
    "<upnp:artist>Two</upnp:artist>\n"
    "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:timestamp=\"100\"/>\n"
    "</item>";

}  // namespace

TEST(SidecarMerge, TitleFirstOtherPropertiesLastKeptNamesStayTimestampsRaised)
{
  module m("corda_didl");
  ASSERT_TRUE(m.rewrite && m.is_updated) << dlerror();
  scratch_dir d;
  std::string media = d / "a.mp3";
  write_file(media, "");
  write_file(media + ".didl", sidecar("<dc:title>  New &amp; &lt;title&gt;</dc:title>\r\n"
                                      "<upnp:artist>Me</upnp:artist>\r\n"
                                      "<upnp:class>object.item</upnp:class>\r\n"
                                      "<upnp:genre> </upnp:genre>\r\n"));
  std::string t = std::to_string(file_time(media + ".didl"));
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)),
            "<?xml version=\"1.0\"?>\n" + kRoot +
                "<item id=\"7\" parentID=\"3\" restricted=\"0\"><dc:title>New &amp; &lt;title&gt;</dc:title>\r\n\n"
                "\n\n<upnp:class>object.item.audioItem.musicTrack</upnp:class>\n\n"
                "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:timestamp=\"" + t + "\"></res>\n"
                "<upnp:artist>Me</upnp:artist>\r\n</item></DIDL-Lite>");

  // A stored time as new as the sidecar's needs no rewrite; an older one
  // does, and so does the rewrite pass, which gives none.
  uint64_t now = file_time(media + ".didl"), older = now - 1;
  EXPECT_EQ(m.is_updated(media.c_str(), nullptr, &now, nullptr), 0);
  EXPECT_EQ(m.is_updated(media.c_str(), nullptr, &older, nullptr), 1);
  EXPECT_EQ(m.is_updated(media.c_str(), nullptr, nullptr, nullptr), 1);
  std::string bare = d / "b.mp3";
  EXPECT_EQ(m.is_updated(bare.c_str(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(m.run(bare, "audio/mpeg", document(kTrack)), "(failed)");

  // Timestamps that are not numbers, and sidecars with two objects, fail.
  EXPECT_EQ(m.run(media, "audio/mpeg", document("<item><res tarvo:timestamp=\"12x\"/></item>")), "(failed)");
  write_file(media + ".didl", kRoot + "<item></item><item></item></DIDL-Lite>");
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)), "(failed)");
}

// A sidecar property named like the root made the item unreadable to the
// server, which then dropped the media file from the library.
TEST(SidecarMerge, PropertiesTheItemCannotHoldAreLeftOut)
{
  module m("corda_didl");
  scratch_dir d;
  std::string media = d / "a.mp3";
  write_file(media + ".didl", sidecar("<DIDL-Lite>x</DIDL-Lite><item>y</item><container>z</container>"
                                      "<upnp:genre>G</upnp:genre>"));
  EXPECT_EQ(m.run(media, "audio/mpeg", document("<item id=\"7\"><dc:title>T</dc:title></item>")),
            "<?xml version=\"1.0\"?>\n" + kRoot +
                "<item id=\"7\"><dc:title>T</dc:title><upnp:genre>G</upnp:genre>\r\n</item></DIDL-Lite>");

  // Nor does a name whose prefix the item's text leaves unbound; one bound
  // on the object element passes.
  write_file(media + ".didl", sidecar("<dc:title>New</dc:title><upnp:genre>G</upnp:genre>"));
  const std::string bare = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\">";
  EXPECT_EQ(m.run(media, "audio/mpeg", bare + "<item id=\"7\"></item></DIDL-Lite>"),
            bare + "<item id=\"7\"></item></DIDL-Lite>");
  EXPECT_EQ(m.run(media, "audio/mpeg", bare + "<item xmlns:dc=\"http://purl.org/dc/elements/1.1/\"></item></DIDL-Lite>"),
            bare + "<item xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>New</dc:title>\r\n</item></DIDL-Lite>");
}

TEST(SidecarMerge, OversizedAndUnreadableSidecarsFailAtOnce)
{
  module m("corda_didl");
  scratch_dir d;
  std::string media = d / "a.mp3";
  // Past 1 MiB a sidecar is not read, however it is padded.
  write_file(media + ".didl", sidecar("<dc:title>Big</dc:title>" + std::string(1 << 20, ' ')));
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)), "(failed)");
  write_file(media + ".didl", sidecar("<dc:title>Fits</dc:title>" + std::string((1 << 20) - 400, ' ')));
  EXPECT_NE(m.run(media, "audio/mpeg", document(kTrack)).find("<dc:title>Fits</dc:title>"), std::string::npos);
  // A FIFO would block the read for good; a link to nowhere is no file.
  // Neither is tried again: not a speed, the runs take less than the one
  // pause a second try would cost.
  const auto no_retry = std::chrono::milliseconds(CORDA_DIDL_RETRY_PAUSE_MS);
  auto begin = std::chrono::steady_clock::now();
  unlink((media + ".didl").c_str());
  ASSERT_EQ(mkfifo((media + ".didl").c_str(), 0600), 0);
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)), "(failed)");
  unlink((media + ".didl").c_str());
  ASSERT_EQ(symlink("nowhere", (media + ".didl").c_str()), 0);
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)), "(failed)");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, no_retry);
  unlink((media + ".didl").c_str());
  write_file(media + ".didl", sidecar(""));
  tarvo_test::without_file_override as_a_user;
  // An unreadable sidecar stays unreadable: no retries under the lock.
  chmod((media + ".didl").c_str(), 0);
  begin = std::chrono::steady_clock::now();
  EXPECT_EQ(m.run(media, "audio/mpeg", document(kTrack)), "(failed)");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, no_retry);
}

TEST(RewriteFrame, EmptyElementsCdataCommentsAndTheCapacity)
{
  module m("corda_didl");
  scratch_dir d;
  std::string media = d / "a.mp3";
  write_file(media + ".didl", sidecar(""));
  std::string in = document("<!-- kept --><item a=\"&quot;\"><res x=\"1\"/>"
                            "<dc:title><![CDATA[a<b & ]]>c</dc:title></item>");
  std::string out = "<?xml version=\"1.0\"?>\n" + kRoot +
                    "<!-- kept --><item a=\"&quot;\"><res x=\"1\"></res><dc:title>a&lt;b &amp; c</dc:title></item>"
                    "</DIDL-Lite>";
  EXPECT_EQ(m.run(media, "audio/mpeg", in), out);
  EXPECT_EQ(m.run(media, "audio/mpeg", in, uint32_t(out.size() + 1)), out);
  EXPECT_EQ(m.run(media, "audio/mpeg", in, uint32_t(out.size())), "(failed)");
  EXPECT_EQ(m.run(media, "audio/mpeg", document("<item><res></item>")), "(failed)");
}

// A hook that drops the root would leave no document at all, which the
// frame used to hand back as a success.
TEST(RewriteFrame, DroppingTheRootFailsDroppingInsideItDoesNot)
{
  auto drop_b = [](msf_rewrite_rec *, const char *name, const char *const *, const char *const *) -> int {
    return std::string_view(name) == "b" ? MSF_TAG_DROP : MSF_TAG_COPY;
  };
  const msf_rewrite_hooks hooks = {drop_b, nullptr, nullptr, nullptr};
  char out[256];
  for (const char *root_dropped : {"<b/>", "<?xml version=\"1.0\"?>\n<b><c/></b>"})
    EXPECT_FALSE(msf_rewrite_run(&hooks, nullptr, root_dropped, out, sizeof out)) << root_dropped;
  ASSERT_TRUE(msf_rewrite_run(&hooks, nullptr, "<a><b><c/></b>x</a>", out, sizeof out));
  EXPECT_STREQ(out, "<a>x</a>");
}

namespace {

struct art_folder {
  scratch_dir d;
  std::string media = d / "a.mp3";
  art_folder() { write_file(media, ""); }
  std::string expected(const std::string &picture, bool small) const
  {
    std::string attrs = " tarvo:filename=\"" + picture + "\" tarvo:timestamp=\"" +
                        std::to_string(file_time_m(picture)) + "\"";
    return std::string("<upnp:albumArtURI") + (small ? " dlna:profileID=\"JPEG_TN\"" : "") + attrs +
           "></upnp:albumArtURI>\r\n<upnp:albumArtURI dlna:profileID=\"JPEG_TN\"" + attrs +
           " tarvo:filter=\"corda_jpeg\"></upnp:albumArtURI>\r\n";
  }
  static int64_t file_time_m(const std::string &p)
  {
    sys_file_stat_rec st;
    return utf8file_stat(p.c_str(), &st) ? st.mtime : -1;
  }
};

// An object as the server hands it to the update test.
struct object_rec {
  std::vector<didl_property> props;
  std::vector<std::vector<const void *>> names, values;
  didl_object o{};
  void add(const char *element, const char *text, std::vector<std::pair<const char *, const char *>> attrs = {})
  {
    didl_property p{};
    p.element = element;
    p.text = const_cast<char *>(text);
    std::vector<const void *> n, v;
    for (auto &[a, b] : attrs) {
      n.push_back(a);
      v.push_back(b);
    }
    names.push_back(n);
    values.push_back(v);
    props.push_back(p);
  }
  const didl_object *get()
  {
    o.properties = {};
    ptrs.clear();
    for (size_t i = 0; i < props.size(); i++) {
      props[i].attributes.names = {const_cast<void **>(names[i].data()), uint32_t(names[i].size()), 0};
      props[i].attributes.values = {const_cast<void **>(values[i].data()), uint32_t(values[i].size()), 0};
      ptrs.push_back(&props[i]);
    }
    o.properties = {ptrs.data(), uint32_t(ptrs.size()), 0};
    return &o;
  }
  std::vector<void *> ptrs;
};

}  // namespace

TEST(AlbumArt, FolderPictureReplacesEveryAlbumArtElementWithTheProfileRule)
{
  module m("corda_album_art");
  ASSERT_TRUE(m.rewrite && m.is_updated) << dlerror();
  art_folder f;
  std::string object = "<item id=\"7\"><dc:title>T</dc:title><upnp:albumArtURI>old<x/></upnp:albumArtURI>"
                       "<upnp:albumArtURI/></item>";
  EXPECT_EQ(m.run(f.media, "audio/mpeg", document(object)), "(failed)");
  // The name is matched in any case when it is not there as written.
  std::string picture = f.d / "folder.JPG";
  write_file(picture, jpeg(160, 160));
  EXPECT_EQ(m.run(f.media, "audio/mpeg", document(object)),
            "<?xml version=\"1.0\"?>\n" + kRoot + "<item id=\"7\"><dc:title>T</dc:title>" +
                f.expected(picture, true) + "</item></DIDL-Lite>");
  write_file(picture, jpeg(161, 100));
  EXPECT_EQ(m.run(f.media, "audio/mpeg", document(object)),
            "<?xml version=\"1.0\"?>\n" + kRoot + "<item id=\"7\"><dc:title>T</dc:title>" +
                f.expected(picture, false) + "</item></DIDL-Lite>");
  // A folder's own container looks inside the folder.
  std::string folder = f.d.path.string();
  EXPECT_NE(m.run(folder, nullptr, document("<container id=\"3\"></container>")).find(f.expected(picture, false)),
            std::string::npos);
}

TEST(AlbumArt, UpdatedWhenThePictureChangesNeverForPictures)
{
  module m("corda_album_art");
  art_folder f;
  std::string picture = f.d / "Folder.jpg";
  write_file(picture, jpeg(10, 10));
  std::string stamp = std::to_string(art_folder::file_time_m(picture));
  object_rec image;
  image.add("upnp:class", "object.item.imageItem.photo");
  EXPECT_EQ(m.is_updated(f.media.c_str(), "image/jpeg", nullptr, image.get()), 0);
  EXPECT_EQ(m.is_updated(f.media.c_str(), "audio/mpeg", nullptr, nullptr), 0);

  object_rec track;
  track.add("upnp:class", "object.item.audioItem.musicTrack");
  EXPECT_EQ(m.is_updated(f.media.c_str(), "audio/mpeg", nullptr, track.get()), 1);
  track.add("upnp:albumArtURI", "", {{"tarvo:filename", picture.c_str()}, {"tarvo:timestamp", stamp.c_str()}});
  EXPECT_EQ(m.is_updated(f.media.c_str(), "audio/mpeg", nullptr, track.get()), 0);
  int64_t later = art_folder::file_time_m(picture) + 10;
  utf8file_utime(picture.c_str(), &later, nullptr);
  EXPECT_EQ(m.is_updated(f.media.c_str(), "audio/mpeg", nullptr, track.get()), 1);
  unlink(picture.c_str());
  EXPECT_EQ(m.is_updated(f.media.c_str(), "audio/mpeg", nullptr, track.get()), 1);
}

namespace {

std::string le(uint64_t v, int n)
{
  std::string s;
  for (int i = 0; i < n; i++) s += char((v >> (8 * i)) & 0xFF);
  return s;
}

std::string guid(const char *bytes) { return std::string(bytes, 16); }

// An ASF header holding one Metadata Library object with a
// WM/WMCollectionID record, then an empty data object.
std::string asf_with_collection_id(const std::string &id_guid)
{
  std::string name;
  for (char c : std::string("WM/WMCollectionID")) name += {c, '\0'};
  name += std::string(2, '\0');
  std::string record = le(0, 2) + le(0, 2) + le(name.size(), 2) + le(6, 2) + le(16, 4) + name + id_guid;
  std::string library = guid("\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54");
  library += le(16 + 8 + 2 + record.size(), 8) + le(1, 2) + record;
  std::string header = guid("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C");
  header += le(30 + library.size(), 8) + le(1, 4) + "\x01\x02" + library;
  std::string data = guid("\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C");
  data += le(50, 8) + std::string(16, '\0') + le(0, 8) + "\x01\x01";
  return header + data;
}

}  // namespace

// Needs the ASF header reader behind WMTag_New; the placeholder reads no
// file.
TEST(AlbumArt, WmaCollectionIdNamesTheLargePictureFirstInUpperCase)
{
  module m("corda_album_art");
  art_folder f;
  std::string wma = f.d / "t.wma";
  write_file(wma, asf_with_collection_id(guid("\x3D\x2C\x1B\x0A\x5F\x4E\x7B\x6A\x8C\x9D\x0E\x1F\x2A\x3B\x4C\x5D")));
  std::string stem = f.d / "AlbumArt_{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}";
  write_file(f.d / "Folder.jpg", jpeg(500, 500));
  write_file(stem + "_Small.jpg", jpeg(75, 75));
  std::string object = "<item id=\"7\"></item>";
  EXPECT_EQ(m.run(wma, "audio/x-ms-wma", document(object)),
            "<?xml version=\"1.0\"?>\n" + kRoot + "<item id=\"7\">" + f.expected(stem + "_Small.jpg", true) +
                "</item></DIDL-Lite>");
  write_file(stem + "_Large.jpg", jpeg(300, 300));
  EXPECT_EQ(m.run(wma, "audio/x-ms-wma", document(object)),
            "<?xml version=\"1.0\"?>\n" + kRoot + "<item id=\"7\">" + f.expected(stem + "_Large.jpg", false) +
                "</item></DIDL-Lite>");
}
