// The web administration program run as the CGI runner runs it: a bare
// environment, a prepared folder, and byte-exact answers.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <chrono>

#include "helper_tollamy.h"

using namespace tollamy_test;

namespace {

const char *far = "REMOTE_ADDR=192.0.2.7";

std::vector<std::string> get_env(const std::string &query, const char *remote = far)
{
  return {"REQUEST_METHOD=GET", "QUERY_STRING=" + query, remote};
}

const std::string menu_messages =
    "<message_list><message><id>COMMON_FAILED_LOADING_PAGE</id><value>=COMMON_FAILED_GET_PAGE=</value></message>"
    "<message><id>COMMON_FAILED_LOADING_LIST</id><value>=COMMON_FAILED_GET_LIST=</value></message>"
    "<message><id>COMMON_CONFIRM_CONNECTION</id><value>=COMMON_CONFIRM_CONNECTION=</value></message></message_list>";

std::string menu_body(const std::string &id)
{
  return "<body><html>&lt;p&gt;=COMMON_LOADING_PAGE=|=MENU_TITLE_SHARE=|=MENU_TITLE_LOGOUT=&lt;/p&gt;</html>"
         "<session_id>" + id + "</session_id>" + menu_messages + "</body>";
}

const std::string failed_body = "<body><html>=COMMON_FAILED=</html></body>";

// Logs in with the password and gives the new session id ("" on failure).
std::string login(const folder &f, const std::string &extra = "")
{
  result r = f.run(get_env("controller=tollamy_page_login&action=login&content=partial"
                           "&tollamy_page_login_password=secret" + extra));
  size_t at = r.out.find("<session_id>");
  if (r.status != 0 || at == r.out.npos) return "";
  std::string id = r.out.substr(at + 12, 36);
  EXPECT_EQ(r.out, answer("tollamy_page_login", "login", "success", menu_body(id)));
  return id;
}

}  // namespace

TEST(TollamyCgi, NoSessionAndFreePassAnswers)
{
  folder f;
  result r = f.run(get_env("controller=tollamy_body&action=get_page_name&content=partial"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, answer("tollamy_body", "get_page_name", "no session", "<body>invalid session</body>"));

  // Bytes no XML document may hold are echoed as empty: the answer stays
  // readable (found by fuzzing).
  r = f.run(get_env("controller=%92%01&action=get_page_name&content=partial"));
  EXPECT_EQ(r.out, answer("", "get_page_name", "no session", "<body>invalid session</body>"));

  r = f.run(get_env("action=x&content=partial"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, answer("", "x", "no session", ""));

  // content other than "partial": nothing at all, with or without session.
  r = f.run(get_env("controller=tollamy_menu&action=x&content=full", "REMOTE_ADDR=127.0.0.1"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");

  r = f.run(get_env("controller=tollamy_body&action=show&content=partial", "REMOTE_ADDR=127.0.0.1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "success", menu_body("free-pass")));
  EXPECT_TRUE(f.sessions().empty());

  // Start-up and request faults end without a byte of output.
  for (auto env : {std::vector<std::string>{"REQUEST_METHOD=PUT", far},
                   std::vector<std::string>{"REQUEST_METHOD=GET", far},
                   std::vector<std::string>{"REQUEST_METHOD=GET", "QUERY_STRING=a=b"},
                   get_env("noequals"), get_env("a=b", "REMOTE_ADDR=192.0.2.300")}) {
    r = f.run(env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
  }
  for (std::string port : {"70000\n", "0\n", "x\n", "123456"}) {
    put(f.dir + "/ms/conf/upnp_port", port);
    r = f.run(get_env("controller=tollamy_body&action=show&content=partial", "REMOTE_ADDR=127.0.0.1"));
    EXPECT_EQ(r.out, "") << port;
  }
  rename((f.dir + "/view.conf").c_str(), (f.dir + "/view.conf.gone").c_str());
  r = f.run(get_env("controller=tollamy_body&action=show&content=partial", "REMOTE_ADDR=127.0.0.1"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST(TollamyCgi, LoginSessionLogoutAndLostSession)
{
  folder f;
  // Before any login there is no session folder: every id is no session.
  result r = f.run(get_env("controller=tollamy_body&action=show&content=partial&session_id=0"));
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "no session", "<body>invalid session</body>"));

  auto t0 = std::chrono::steady_clock::now();
  r = f.run(get_env("controller=tollamy_page_login&action=login&content=partial&tollamy_page_login_password=wrong"));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, answer("tollamy_page_login", "login", "failure", "<body><html>=LOGIN_INVALID_PASSWORD=</html></body>"));

  std::string id = login(f);
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(f.sessions(), std::vector<std::string>{id});

  r = f.run(get_env("controller=tollamy_body&action=show&content=partial&session_id=" + id));
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "success", menu_body(id)));

  // A login that brings an id gets a new one; the old session ends.
  std::string second = login(f, "&session_id=" + id);
  ASSERT_EQ(second.size(), 36u);
  EXPECT_NE(second, id);
  EXPECT_EQ(f.sessions(), std::vector<std::string>{second});

  // Logout ends the session; the login page then needs the server's name,
  // which is not reachable here.
  r = f.run(get_env("controller=tollamy_menu&action=logout&content=partial&session_id=" + second));
  EXPECT_EQ(r.out, answer("tollamy_menu", "logout", "failure", failed_body));
  EXPECT_TRUE(f.sessions().empty());

  // The page script then asks for the login page of a lost session.
  r = f.run(get_env("controller=tollamy_body&action=show&content=partial&session_id=" + second));
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "no session", "<body>invalid session</body>"));
  r = f.run(get_env("controller=tollamy_page_login&action=get_page_login&content=partial&lose_session=yes"));
  EXPECT_EQ(r.out, answer("tollamy_page_login", "get_page_login", "failure", failed_body));

  // A login file of another length is an error, not a wrong password.
  put(f.dir + "/config/login/password", std::string(19, 'x'));
  r = f.run(get_env("controller=tollamy_page_login&action=login&content=partial&tollamy_page_login_password=secret"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, answer("tollamy_page_login", "login", "no session", ""));
}

TEST(TollamyCgi, SessionIdNamingAnotherFileIsNoSession)
{
  folder f;
  std::string id = login(f);
  ASSERT_FALSE(id.empty());
  std::string upper = id;
  for (char &c : upper) c = char(toupper(c));
  // A path in the id once reached the login file (and deleted it on the
  // login page); only ids of the created form are looked up.
  for (std::string bad : {std::string("../login/password"), std::string("..%2Flogin%2Fpassword"), upper,
                          id + "x", id.substr(0, 35)}) {
    result r = f.run(get_env("controller=tollamy_menu&action=logout&content=partial&session_id=" + bad));
    EXPECT_EQ(r.out, answer("tollamy_menu", "logout", "no session", "<body>invalid session</body>")) << bad;
    r = f.run(get_env("controller=tollamy_page_login&action=get_page_login&content=partial&session_id=" + bad));
    EXPECT_TRUE(exists(f.dir + "/config/login/password"));
  }
  EXPECT_EQ(f.sessions(), std::vector<std::string>{id});
}

TEST(TollamyCgi, SessionExpiresAfterAnHour)
{
  folder f;
  std::string id = login(f);
  ASSERT_FALSE(id.empty());
  const std::string query = "controller=tollamy_body&action=show&content=partial&session_id=" + id;
  if (!exists("/usr/bin/faketime")) GTEST_SKIP() << "faketime is not installed (scripts/packages)";
  const std::vector<std::string> now = {"/usr/bin/faketime", "-f", "+0s"};
  if (f.run(get_env("controller=tollamy_body&action=show&content=partial", "REMOTE_ADDR=127.0.0.1"), {}, now).out.empty())
    GTEST_SKIP() << "faketime cannot preload into this build (a sanitizer runtime must come first)";
  result r = f.run(get_env(query), {}, {"/usr/bin/faketime", "-f", "+3590s"});
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "success", menu_body(id)));
  r = f.run(get_env(query), {}, {"/usr/bin/faketime", "-f", "+3610s"});
  EXPECT_EQ(r.out, answer("tollamy_body", "show", "no session", "<body>invalid session</body>"));
  EXPECT_TRUE(f.sessions().empty());
}

TEST(TollamyCgi, PostBodyInPiecesAndItsLimit)
{
  folder f;
  const std::string body = "controller=tollamy_page_login&action=login&content=partial&tollamy_page_login_password=secret";
  auto env = [&](const std::string &length) {
    return std::vector<std::string>{"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + length, far};
  };
  // A pipe delivers the body in two pieces.
  result r = f.run(env(std::to_string(body.size())), {body.substr(0, 20), body.substr(20)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(f.sessions().size(), 1u);

  r = f.run(env(std::to_string(body.size() + 1)), {body});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  for (std::string bad : {"1048577", "18446744073709551617", "-1", "12x", ""}) {
    r = f.run(env(bad), {body});
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.out, "") << bad;
  }
  r = f.run({"REQUEST_METHOD=POST", far}, {body});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(f.sessions().size(), 1u);
}

TEST(TollamyCgi, CrossSiteAndRebindingRequestsChangeNothing)
{
  folder f;
  const std::string q = "QUERY_STRING=controller=tollamy_page_login&action=login&content=partial"
                        "&tollamy_page_login_password=secret";
  const std::string refused = answer("tollamy_page_login", "login", "failure", failed_body);
  for (auto headers : {std::vector<std::string>{"HTTP_SEC_FETCH_SITE=cross-site"},
                       std::vector<std::string>{"HTTP_SEC_FETCH_SITE=same-site"},
                       std::vector<std::string>{"HTTP_HOST=127.0.0.1:30000", "HTTP_ORIGIN=http://evil.example"},
                       std::vector<std::string>{"HTTP_ORIGIN=http://127.0.0.1:30000"},
                       std::vector<std::string>{"HTTP_HOST=evil.example:30000"}}) {
    std::vector<std::string> env = {"REQUEST_METHOD=GET", q, "REMOTE_ADDR=127.0.0.1"};
    env.insert(env.end(), headers.begin(), headers.end());
    result r = f.run(env);
    EXPECT_EQ(r.out, refused) << headers[0];
    EXPECT_TRUE(f.sessions().empty()) << headers[0];
  }
  // The system's own pages send their own origin.
  result r = f.run({"REQUEST_METHOD=GET", q, far, "HTTP_HOST=127.0.0.1:30000", "HTTP_ORIGIN=http://127.0.0.1:30000",
                    "HTTP_SEC_FETCH_SITE=same-origin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(f.sessions().size(), 1u);
}
