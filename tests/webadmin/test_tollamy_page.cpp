// The web administration pages behind the device stack's CGI runner, with
// the fixture host as the local and the other server: each test drives one
// page's actions and checks the answers' bytes, the echoes, the server
// calls and the files around them.
#include <gtest/gtest.h>

#include <tarvo_util/digest.h>

#include "test_tollamy_page_host.h"

using tollamy_test::answer;
using tollamy_test::get;
using tollamy_test::put;

namespace {

struct page : ::testing::Test {
  page_host::host h;
  tollamy_test::folder f{h.admin};
  void SetUp() override { ASSERT_TRUE(h.start(f)); }
  void tmpl(const std::string &name, const std::string &text) { put(f.dir + "/html/" + name + ".html.part", text); }
  // One request from this machine (the free pass) through the runner.
  std::string ask(const std::string &controller, const std::string &action, const std::string &args = "")
  {
    return h.get("content=partial&controller=" + controller + "&action=" + action + args);
  }
  std::vector<std::string> calls() { return h.s.take_calls(); }
};

std::string enc(const std::string &s)
{
  std::string out;
  for (unsigned char c : s) {
    if (isalnum(c)) out += char(c);
    else {
      char b[4];
      snprintf(b, sizeof b, "%%%02X", c);
      out += b;
    }
  }
  return out;
}

std::string ok_html(const std::string &text, const std::string &echoes = "")
{
  return "<body><html>" + text + "</html>" + echoes + "</body>";
}

std::string item(const std::string &s) { return "<list_item>" + s + "</list_item>\r\n"; }

std::string message(const std::string &id, const std::string &value)
{
  return "<message><id>" + id + "</id><value>" + value + "</value></message>";
}

std::string unescape(std::string s)
{
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    static const std::pair<const char *, char> ents[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                                         {"&quot;", '"'}, {"&apos;", '\''}};
    bool done = false;
    for (auto &e : ents)
      if (!done && s.compare(i, strlen(e.first), e.first) == 0) {
        out += e.second;
        i += strlen(e.first) - 1;
        done = true;
      }
    if (!done) out += s[i];
  }
  return out;
}

}  // namespace

TEST_F(page, ShareListRepairAndRebuildKeepEveryShare)
{
  h.s.shares = {"/m/b", "/m/a<&>"};
  tmpl("tollamy_page_share_share_list_start", "S[");
  tmpl("tollamy_page_share_share_list_body", "([[PATH]]|[[SE_ID]]|[[TR_ID]])");
  tmpl("tollamy_page_share_share_list_end", "]E");
  tmpl("tollamy_page_share", "[[SHARE_TITLE]]<[[COMMON_RELOAD]]>");
  tmpl("tollamy_page_share_share_list_loading", "<i>[[LIST_LOADING]]</i>");

  // Sorted, each path HTML-escaped into its row, the row escaped into the answer.
  EXPECT_EQ(ask("tollamy_page_share", "get_share_list"),
            answer("tollamy_page_share", "get_share_list", "success",
                   "<body><html_list>" + item("S[") + item("(/m/a&amp;lt;&amp;amp;&amp;gt;|share_se_000|share_tr_000)") +
                       item("(/m/b|share_se_001|share_tr_001)") + item("]E") + "</html_list></body>"));
  EXPECT_EQ(calls(), std::vector<std::string>{"X_ShareList()"});

  // A path that was never shared is not shared by the repair, and a share
  // that cannot be put back is reported, not lost in silence.
  h.s.share_fails = {"/m/b"};
  std::string q = "&share_se=" + enc("/m/a<&>") + "&share_se=%2Fnever&share_se=%2Fm%2Fb";
  EXPECT_EQ(ask("tollamy_page_share", "repair_database", q),
            answer("tollamy_page_share", "repair_database", "failure", ok_html("=COMMON_FAILED=")));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_Unshare(Path=/m/a<&>)", "X_Unshare(Path=/never)",
                                               "X_Unshare(Path=/m/b)", "X_Share(Path=/m/a<&>)", "X_Share(Path=/m/b)"}));
  EXPECT_EQ(h.s.shares, std::vector<std::string>{"/m/a<&>"});

  h.s.share_fails.clear();
  h.s.shares.push_back("/m/b");
  EXPECT_EQ(ask("tollamy_page_share", "repair_database", "&share_se=%2Fm%2Fb"),
            answer("tollamy_page_share", "repair_database", "success", ok_html("=DATABASE_REPAIRED_MESSAGE=")));
  calls();
  // The rebuild takes every share off and puts each back; one that fails
  // to come back fails the rebuild.
  h.s.share_fails = {"/m/b"};
  EXPECT_EQ(ask("tollamy_page_database", "rebuild_database"),
            answer("tollamy_page_database", "rebuild_database", "failure", ok_html("=COMMON_FAILED=")));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_ShareList()", "X_Unshare(Path=/m/a<&>)", "X_Unshare(Path=/m/b)",
                                               "X_Share(Path=/m/a<&>)", "X_Share(Path=/m/b)"}));
  h.s.share_fails.clear();
  EXPECT_EQ(ask("tollamy_page_database", "rebuild_database"),
            answer("tollamy_page_database", "rebuild_database", "success", "<body><html/></body>"));
  calls();

  EXPECT_EQ(ask("tollamy_page_share", "unregister_share_list", "&share_se=" + enc("/m/a<&>") + "&share_se=%2Fx"),
            answer("tollamy_page_share", "unregister_share_list", "success",
                   ok_html("=BACKUP_SUCCEEDED_REMOVE_TASK=",
                           "<share_path>/m/a&lt;&amp;&gt;</share_path><share_path>/x</share_path>")));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_Unshare(Path=/m/a<&>)", "X_Unshare(Path=/x)"}));

  // The generic page, asked of any controller, with its loading part.
  EXPECT_EQ(ask("tollamy_page_mimetype", "get_page_share"),
            answer("tollamy_page_mimetype", "get_page_share", "success",
                   "<body><html>=SHARE_TITLE=&lt;=COMMON_RELOAD=&gt;</html><message_list>" +
                       message("SHARE_FAILED_UNSHARE", "=SHARE_FAILED_UNREGISTER=") +
                       message("SHARE_FAILED_REBUILD_DATABASE", "=DATABASE_FAILED_REPAIR_DATABASE=") +
                       message("SHARE_ASK_UNSHARE", "=SHARE_ASK_UNREGISTER=") +
                       message("SHARE_LOADING", "&lt;i&gt;=LIST_LOADING=&lt;/i&gt;") + "</message_list></body>"));
  EXPECT_TRUE(calls().empty());
}

TEST_F(page, FileTypesAreCheckedAndResetNeedsAReadableList)
{
  h.s.types = {{"mp3", "audio/mpeg"}, {"avi", "video/x-msvideo"}};
  tmpl("tollamy_page_mimetype_mimetype_start", "[[MIMETYPE_ADD]]");
  tmpl("tollamy_page_mimetype_mimetype_body", "[[EXTENTION]]=[[MIMETYPE]]@[[SE_ID]]");
  tmpl("tollamy_page_mimetype_mimetype_end", "end");
  tmpl("tollamy_page_mimetype_page_register", "[[MIMETYPE_ADD]]:[[EXTENTION]]:[[MIMETYPE]]:[[EDIT_FLAG]]");
  EXPECT_EQ(ask("tollamy_page_mimetype", "get_mimetype_list"),
            answer("tollamy_page_mimetype", "get_mimetype_list", "success",
                   "<body><html>" + item("=MIMETYPE_ADD=") + item("avi=video/x-msvideo@mime_se_000") +
                       item("mp3=audio/mpeg@mime_se_001") + item("end") + "</html></body>"));
  // "get_page_" actions of the controller's own reach the controller.
  EXPECT_EQ(ask("tollamy_page_mimetype", "get_page_register"),
            answer("tollamy_page_mimetype", "get_page_register", "success", ok_html("=MIMETYPE_ADD=:::0")));
  EXPECT_EQ(ask("tollamy_page_mimetype", "get_page_edit", "&extention=x&mimetype=" + enc("a/\"b\"")),
            answer("tollamy_page_mimetype", "get_page_edit", "success", ok_html("=MIMETYPE_EDIT=:x:a/&amp;quot;b&amp;quot;:1")));
  calls();

  struct refused {
    std::string ext, mime, text;
    size_t calls;
  };
  for (const refused &c : {refused{"a.b", "audio/x", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_EXTENSION=", 0},
                           refused{"", "audio/x", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_EXTENSION=", 0},
                           refused{"ogg", "/x", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_MIMETYPE=", 0},
                           refused{"ogg", "audio", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_MIMETYPE=", 0},
                           refused{"ogg", "au;dio/x", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_MIMETYPE=", 0},
                           refused{"mp3", "audio/x", "=MIMETYPE_FAILED_REGISTER_MIMETYPE_ALREADY_REGISTERED=", 1}}) {
    EXPECT_EQ(ask("tollamy_page_mimetype", "register", "&extention=" + enc(c.ext) + "&mimetype=" + enc(c.mime)),
              answer("tollamy_page_mimetype", "register", "failure", ok_html(c.text)))
        << c.ext << " " << c.mime;
    EXPECT_EQ(calls().size(), c.calls) << c.ext;
  }
  EXPECT_EQ(ask("tollamy_page_mimetype", "register", "&extention=ogg&mimetype=" + enc("audio/ogg;codecs=x")),
            answer("tollamy_page_mimetype", "register", "success", "<body><html/></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_GetFileTypeList()",
                                               "X_AddFileType(FileExtension=ogg,MimeType=audio/ogg;codecs=x)"}));
  EXPECT_EQ(ask("tollamy_page_mimetype", "edit", "&prev_extention=ogg&extention=oga&mimetype=" + enc("audio/og&g")),
            answer("tollamy_page_mimetype", "edit", "success",
                   "<body><prev_extention>ogg</prev_extention><extention>oga</extention>"
                   "<mimetype>audio/og&amp;g</mimetype><html/></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_GetFileTypeList()", "X_RemoveFileType(FileExtension=ogg)",
                                               "X_AddFileType(FileExtension=oga,MimeType=audio/og&g)"}));

  // A default list that reads as empty, or has another root, would have
  // removed every type: nothing is asked of the server.
  const std::string list = f.dir + "/config/default_filetype.xml";
  for (std::string bad : {"<default_filetype_list/>\n",
                          "<other><filetype><extention>wav</extention><mimetype>audio/wav</mimetype></filetype></other>"}) {
    put(list, bad);
    EXPECT_EQ(ask("tollamy_page_mimetype", "reset"),
              answer("tollamy_page_mimetype", "reset", "failure", ok_html("=COMMON_FAILED=")));
    EXPECT_TRUE(calls().empty());
  }
  EXPECT_EQ(h.s.types.size(), 3u);
  put(list, "<default_filetype_list><filetype><extention>wav</extention><mimetype>audio/wav</mimetype></filetype>"
            "</default_filetype_list>");
  EXPECT_EQ(ask("tollamy_page_mimetype", "reset"),
            answer("tollamy_page_mimetype", "reset", "success", "<body><html/></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_GetFileTypeList()", "X_RemoveFileType(FileExtension=mp3)",
                                               "X_RemoveFileType(FileExtension=avi)", "X_RemoveFileType(FileExtension=oga)",
                                               "X_AddFileType(FileExtension=wav,MimeType=audio/wav)"}));
  EXPECT_EQ(ask("tollamy_page_mimetype", "unregister", "&mime_se=wav&mime_se=none"),
            answer("tollamy_page_mimetype", "unregister", "success", "<body><html/></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"X_RemoveFileType(FileExtension=wav)", "X_RemoveFileType(FileExtension=none)"}));
  EXPECT_TRUE(h.s.types.empty());
}

TEST_F(page, SecurityPageChunksClientsAndTheDialogSetting)
{
  // Three-byte characters across the 2047-byte cut.
  std::string wide;
  for (int i = 0; i < 1500; i++) wide += "\xe3\x81\x82";
  tmpl("tollamy_page_security", "x[[SECURITY_TITLE]]" + wide + "<[[SECURITY_CHECK_SHOW_SECURITY_DIALOG]]>");
  tmpl("tollamy_page_security_client_list_loading", "[[LIST_LOADING]]");
  std::string out = ask("tollamy_page_security", "get_page_security");
  std::string joined;
  size_t at = 0, n = 0;
  while ((at = out.find("<list_item>", at)) != out.npos) {
    size_t end = out.find("</list_item>", at);
    std::string chunk = unescape(out.substr(at + 11, end - at - 11));
    EXPECT_LE(chunk.size(), 2047u);
    EXPECT_NE(uint8_t(chunk[0]) & 0xC0, 0x80) << "chunk " << n << " begins inside a character";
    joined += chunk;
    at = end;
    n++;
  }
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(joined, "x=SECURITY_TITLE=" + wide + "<checked=\"checked\">");
  EXPECT_NE(out.find("</html_list><message_list>" + message("SECURITY_FAILED_CHANGE_SECURITY", "=SECURITY_FAILED_CHANGE_SECURITY=")),
            out.npos);
  EXPECT_NE(out.find(message("SECURITY_LOADING", "=LIST_LOADING=") + "</message_list></body></root>"), out.npos);

  // Host names from the hosts file; clients without one come last.
  h.s.allow = {{"00:11", "192.0.2.9"}, {"00:22", "127.0.0.1"}};
  tmpl("tollamy_page_security_client_list_start", "[[TABLE_ID]]");
  tmpl("tollamy_page_security_client_list_body", "[[MAC_AND_IP]]/[[HOST]]/[[SE_ID]]");
  tmpl("tollamy_page_security_client_list_end", "");
  EXPECT_EQ(ask("tollamy_page_security", "get_allow_list"),
            answer("tollamy_page_security", "get_allow_list", "success",
                   "<body><html>" + item("sec_a_list_body") + item("00:22,127.0.0.1/localhost/sec_a_se_000") +
                       item("00:11,192.0.2.9//sec_a_se_001") + "<list_item></list_item>\r\n</html></body>"));
  calls();

  // One malformed client fails the whole change.
  EXPECT_EQ(ask("tollamy_page_security", "to_allow", "&sec_a_se=" + enc("aa,1.2.3.4") + "&sec_d_se=bb"),
            answer("tollamy_page_security", "to_allow", "failure", ok_html("=COMMON_FAILED=")));
  EXPECT_TRUE(calls().empty());
  std::string two = "&sec_a_se=" + enc("aa,1.2.3.4") + "&x=1&sec_d_se=" + enc("c\\,d,5.6.7.8");
  EXPECT_EQ(ask("tollamy_page_security", "to_deny", two),
            answer("tollamy_page_security", "to_deny", "success", "<body><html/></body>"));
  EXPECT_EQ(ask("tollamy_page_security", "remove", two),
            answer("tollamy_page_security", "remove", "success", "<body><html/></body>"));
  // Only "allow" exactly is allow.
  EXPECT_EQ(ask("tollamy_page_security", "set_default", "&default=ALLOW"),
            answer("tollamy_page_security", "set_default", "success", "<body><html/></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"SetClientPermissions(MacList=aa,c\\,d,IpList=1.2.3.4,5.6.7.8,ClientState=deny)",
                                               "UnregisterClients(MacList=aa,c\\,d)",
                                               "SetDefaultClientState(DefaultClientState=deny)"}));
  tmpl("tollamy_page_security_default", "[[SECURITY_DEFAULT_ALLOW]][[DEFAULT_IS_ALLOW]]|[[DEFAULT_IS_DENY]]");
  EXPECT_EQ(ask("tollamy_page_security", "get_default"),
            answer("tollamy_page_security", "get_default", "success", ok_html("=SECURITY_PUBLIC=|checked=&apos;&apos;")));

  // The setting is a line of a file: line breaks and quotes are refused
  // and the file stays as it was.
  const std::string view = f.dir + "/view.conf";
  for (std::string bad : {"a%0Db", "a%0Ab", "a%22b", ""}) {
    EXPECT_EQ(ask("tollamy_page_security", "set_security_dialog_visibility", "&visibility=" + bad),
              answer("tollamy_page_security", "set_security_dialog_visibility", "failure", ok_html("=COMMON_FAILED=")));
    EXPECT_EQ(get(view), "SHOW_SECURITY_DIALOG=\"true\"\n") << bad;
  }
  EXPECT_EQ(ask("tollamy_page_security", "set_security_dialog_visibility", "&visibility=false"),
            answer("tollamy_page_security", "set_security_dialog_visibility", "success", "<body><html/></body>"));
  EXPECT_EQ(get(view), "SHOW_SECURITY_DIALOG=\"false\"\n");
  EXPECT_NE(ask("tollamy_page_security", "get_page_security").find("&lt;&gt;</list_item>"), std::string::npos);
}

TEST_F(page, NameLanguagePasswordAndTheDispatch)
{
  tmpl("tollamy_page_name", "[[SERVER_TITLE]]:[[SERVER_NAME]]");
  // The name any LAN client may set is data: escaped for the page, then
  // the page for the answer.
  EXPECT_EQ(ask("tollamy_page_name", "get_page_name"),
            answer("tollamy_page_name", "get_page_name", "success",
                   "<body><html>=SERVER_TITLE=:Den &amp;lt;b&amp;gt;&amp;amp;amp;&amp;lt;/b&amp;gt;</html><message_list>" +
                       message("NAME_FAILED_GET_SERVER_NAME", "=SERVER_NAME_FAILED_GET_SERVER_NAME=") +
                       message("NAME_FAILED_SET_SERVER_NAME", "=SERVER_NAME_FAILED_SET_SERVER_NAME=") +
                       "</message_list></body>"));
  EXPECT_EQ(ask("tollamy_page_name", "change_name", "&server_name=" + enc("A<b>")),
            answer("tollamy_page_name", "change_name", "success",
                   "<body><html/><new_server_name>A&lt;b&gt;</new_server_name></body>"));
  EXPECT_EQ(ask("tollamy_page_name", "change_name"),
            answer("tollamy_page_name", "change_name", "failure",
                   ok_html("Client need to send &apos;server_name&apos; query")));
  EXPECT_EQ(ask("tollamy_page_name", "get_name"),
            answer("tollamy_page_name", "get_name", "success", "<body><html/><server_name>A&lt;b&gt;</server_name></body>"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"GetFriendlyName()", "SetFriendlyName(FriendlyName=A<b>)",
                                               "GetFriendlyName()", "GetFriendlyName()"}));

  // The language names the text file of every later start: only the two.
  const std::string lang = f.dir + "/lang.conf";
  for (std::string bad : {"..%2Fx", "de", ""}) {
    EXPECT_EQ(ask("tollamy_page_view", "change_language", "&language=" + bad),
              answer("tollamy_page_view", "change_language", "failure", ok_html("=COMMON_FAILED=")));
    EXPECT_EQ(get(lang), "LANGUAGE=\"en\"\n");
  }
  put(f.dir + "/text/text_ja.xml", "<text_list><text><id>COMMON_FAILED</id><value>JA</value></text>"
                                   "<text><id>PASSWORD_CHANGED_MESSAGE</id><value>ja-changed</value></text>"
                                   "<text><id>PASSWORD_MISSMATCH_MESSAGE</id><value>ja-miss</value></text>"
                                   "<text><id>PASSWORD_INVALIDCHAR_MESSAGE</id><value>ja-char</value></text></text_list>");
  EXPECT_EQ(ask("tollamy_page_view", "change_language", "&language=ja"),
            answer("tollamy_page_view", "change_language", "success", "<body><html/></body>"));
  EXPECT_EQ(get(lang), "LANGUAGE=\"ja\"\n");

  const std::string login = f.dir + "/config/login/password";
  const std::string before = get(login);
  struct change {
    std::string args, text;
  };
  for (const change &c : {change{"&password_1=abc", "Client need to send &apos;password_1&apos; or "
                                                    "&apos;password_2&apos; query"},
                          change{"&password_1=&password_2=", "ja-miss"},
                          change{"&password_1=abc1&password_2=abc2", "ja-miss"},
                          change{"&password_1=a_b&password_2=a_b", "ja-char"}}) {
    EXPECT_EQ(ask("tollamy_page_password", "change_password", c.args),
              answer("tollamy_page_password", "change_password", "failure", ok_html(c.text)));
    EXPECT_EQ(get(login), before);
  }
  EXPECT_EQ(ask("tollamy_page_password", "change_password", "&password_1=New1&password_2=New1"),
            answer("tollamy_page_password", "change_password", "success", ok_html("ja-changed")));
  sha1_ctx_rec ctx;
  unsigned char d[20];
  sha1_init(&ctx);
  sha1_write(&ctx, "New1", 4);
  sha1_final(&ctx, d);
  EXPECT_EQ(get(login), std::string(reinterpret_cast<char *>(d), 20));

  // Another controller answers the menu; a known controller with an
  // unknown action answers nothing and fails; generic pages go anywhere.
  put(lang, "LANGUAGE=\"en\"\n");
  EXPECT_NE(ask("tollamy_nothing", "x").find("<session_id>free-pass</session_id>"), std::string::npos);
  tollamy_test::result r = f.run({"REQUEST_METHOD=GET", "QUERY_STRING=content=partial&controller=tollamy_page_name&action=x",
                                  "REMOTE_ADDR=127.0.0.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  tmpl("tollamy_page_control", "[[CONTROL_TITLE]]");
  EXPECT_EQ(ask("tollamy_page_share", "get_page_control"),
            answer("tollamy_page_share", "get_page_control", "success", ok_html("=CONTROL_TITLE=")));
  EXPECT_EQ(ask("tollamy_message", "any", "&msg=COMMON_APPLY&msg=NOT_A_KEY"),
            answer("tollamy_message", "any", "success",
                   "<body><html/><message_list>" + message("COMMON_APPLY", "=COMMON_APPLY=") +
                       "<message><id>NOT_A_KEY</id><value/></message></message_list></body>"));
}

TEST_F(page, BackupServersTasksAndContainers)
{
  using page_host::node;
  h.s.tree = {{"c1", "0", "Music & <Songs>", true}, {"i1", "0", "song", false}, {"c2", "0", "Photos", true},
              {"c11", "c1", "Rock", true}};
  tmpl("tollamy_page_backup_server_table_start", "");
  tmpl("tollamy_page_backup_server_table_body", "[[udn]]|[[friendly_name]]|[[ntask]]|[[SE_ID]]");
  tmpl("tollamy_page_backup_server_table_end", "");
  tmpl("tollamy_page_backup_task_table_start", "[[friendly_name]]");
  tmpl("tollamy_page_backup_task_table_body", "[[container_name]]|[[state]]|[[time]]|[[task_id]]|[[btn_str]]");
  tmpl("tollamy_page_backup_task_table_end", "");
  const std::string udn = page_host::kUdn, url = h.s.self_url + "control/ContentDirectory";
  const std::string server = "&udn=" + enc(udn) + "&control_url_cd=" + enc(url);
  const std::string who = "&friendly_name=" + enc("Other & Server") + "&icon_url=" + enc("/i.png");

  EXPECT_EQ(ask("tollamy_page_backup", "get_server_list"),
            answer("tollamy_page_backup", "get_server_list", "success",
                   "<body><html_list><list_item></list_item>\r\n" + item(udn + "|Other &amp;amp; Server|0|bu_s_se_000") +
                       "<list_item></list_item>\r\n</html_list></body>"));
  EXPECT_EQ(ask("tollamy_page_backup", "browse_container", server + "&container_id_for_browse=0"),
            answer("tollamy_page_backup", "browse_container", "success",
                   "<body><container_list><container id=\"c1\" dc_title=\"Music &amp; &lt;Songs&gt;\" registered=\"false\" "
                   "nchildren=\"1\"/><container id=\"c2\" dc_title=\"Photos\" registered=\"false\" nchildren=\"0\"/>"
                   "</container_list><udn>" + udn + "</udn><control_url_cd>" + url +
                       "</control_url_cd><container_id>0</container_id></body>"));
  calls();
  EXPECT_EQ(ask("tollamy_page_backup", "register_task", "&udn=" + enc(udn) + "&container_id=c1"),
            answer("tollamy_page_backup", "register_task", "success",
                   ok_html("=BACKUP_SUCCEEDED_CREATE_TASK=", "<udn>" + udn + "</udn><container_id>c1</container_id>")));
  EXPECT_EQ(calls(), std::vector<std::string>{"CreateTask(UDN=" + udn + ",ContainerID=c1)"});
  h.s.tasks["t1"].state = "DISABLED";

  const std::string echoes = "<udn>" + udn + "</udn><control_url_cd>" + url +
                             "</control_url_cd><friendly_name>Other &amp; Server</friendly_name><icon_url>/i.png</icon_url>";
  EXPECT_EQ(ask("tollamy_page_backup", "get_task_list", server + who),
            answer("tollamy_page_backup", "get_task_list", "success",
                   "<body><html_list>" + item("Other &amp;amp; Server") +
                       item("Music &amp;amp; &amp;lt;Songs&amp;gt;|=BACKUP_TASK_STATE_DISABLE=|-|t1|"
                            "=BACKUP_CHANGE_TASK_STATE_DISABLE=") +
                       "<list_item></list_item>\r\n</html_list>" + echoes + "<ntask>1</ntask></body>"));
  calls();
  // The first task that cannot be removed stops the rest.
  EXPECT_EQ(ask("tollamy_page_backup", "unregister_task", server + who + "&bu_t_se=t9&bu_t_se=t1"),
            answer("tollamy_page_backup", "unregister_task", "failure",
                   ok_html("=BACKUP_FAILED_REMOVE_TASK=", "<task_id>t9</task_id><task_id>t1</task_id><udn>" + udn +
                                                              "</udn><control_url_cd>" + url +
                                                              "</control_url_cd><icon_url>/i.png</icon_url>"
                                                              "<friendly_name>Other &amp; Server</friendly_name>")));
  EXPECT_EQ(calls(), std::vector<std::string>{"RemoveTask(TaskID=t9)"});
  EXPECT_EQ(h.s.tasks.size(), 1u);
  EXPECT_EQ(ask("tollamy_page_backup", "unregister_task", server + who + "&bu_t_se=t1").find("<state>success</state>") !=
                std::string::npos,
            true);
  EXPECT_TRUE(h.s.tasks.empty());
}
