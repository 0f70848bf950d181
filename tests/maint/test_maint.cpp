// ulvane on fixture registry roots and svcarm on the service manager's file
// backend, run as the installed programs are.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tarvo_platform/registry.h>

#include <string>

#include "tarvo_test.h"

using tarvo_test::scratch_dir;

namespace {

const char *const key = "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Control/Session Manager";
const char *const value = "PendingFileRenameOperations";

std::string utf16(const std::string &ascii)
{
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out + std::string(2, '\0');
}

std::string pairs(std::initializer_list<std::pair<std::string, std::string>> list)
{
  std::string out;
  for (const auto &[s, d] : list) out += utf16(s) + utf16(d);
  return out + std::string(2, '\0');
}

struct fixture {
  scratch_dir dir;
  std::string env;
  fixture()
  {
    env = "TARVO_REGISTRY_ROOT='" + dir / "reg" + "' TARVO_PROGRAM_FILES=/opt TARVO_COMMON_APPDATA=/var/lib "
          "TARVO_SCM_DIR='" + dir / "scm" + "' ";
    setenv("TARVO_REGISTRY_ROOT", (dir / "reg").c_str(), 1);
  }
  std::string file() const { return dir / ("reg/" + std::string(key) + "/" + value); }
  int run(const std::string &args, std::string *err = nullptr)
  {
    int status;
    std::string out = tarvo_test::command_output(
        env + std::getenv("TARVO_BIN") + "/" + args + " 2>'" + dir / "err" + "'", &status);
    if (err) *err = tarvo_test::read_file(dir / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void set(const std::string &data)
  {
    ASSERT_EQ(registry_set_value(key, value, REGISTRY_MULTI_SZ, data.data(), uint32_t(data.size())), REGISTRY_OK);
  }
};

}  // namespace

TEST(Ulvane, KeepsOtherProgramsPairsByteForByte)
{
  fixture f;
  f.set(pairs({{"\\??\\/opt/Tarvo/old.so", ""},
               {"/home/u/a.txt", "/home/u/b.txt"},
               {"/tmp/x", "!/var/lib/Tarvo/db"},
               {"/opt/Tarvo2/keep.so", ""},  // another product whose name begins the same
               {"/opt/tarvo/case.so", ""},
               {"/opt/Tarvo", ""}}));
  EXPECT_EQ(f.run("ulvane"), 1);
  EXPECT_EQ(f.run("ulvane Tarvo extra"), 1);
  EXPECT_EQ(f.run("ulvane Tarvo"), 0);
  std::string expect = std::string("\x07\0\0\0", 4) +
                       pairs({{"/home/u/a.txt", "/home/u/b.txt"}, {"/opt/Tarvo2/keep.so", ""},
                              {"/opt/tarvo/case.so", ""}});
  EXPECT_EQ(tarvo_test::read_file(f.file()), expect);
  EXPECT_EQ(f.run("ulvane Tarvo"), 0);  // already clean: the same list
  EXPECT_EQ(tarvo_test::read_file(f.file()), expect);
}

TEST(Ulvane, DeletesTheValueWhenNothingIsKeptAndLeavesFailuresAndOtherTypesAlone)
{
  fixture f;
  EXPECT_EQ(f.run("ulvane Tarvo"), 0);  // no list at all
  f.set(pairs({{"/opt/Tarvo/a", ""}, {"/x", "/var/lib/Tarvo"}}));
  EXPECT_EQ(f.run("ulvane Tarvo"), 0);
  struct stat st;
  EXPECT_NE(stat(f.file().c_str(), &st), 0);

  // Longer than the 8192 bytes read: nothing is written.
  std::string big = pairs({{"/opt/Tarvo/" + std::string(5000, 'a'), ""}});
  f.set(big);
  struct stat before;
  ASSERT_EQ(stat(f.file().c_str(), &before), 0);
  std::string err;
  EXPECT_EQ(f.run("ulvane Tarvo", &err), 1);
  EXPECT_NE(err.find("error 234"), std::string::npos) << err;
  struct stat after;
  ASSERT_EQ(stat(f.file().c_str(), &after), 0);
  EXPECT_EQ(tarvo_test::read_file(f.file()), std::string("\x07\0\0\0", 4) + big);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  // A value of another type (a single string naming the folder) holds no
  // pairs: it is left byte for byte, and that is a failure.
  std::string text = "/opt/Tarvo/old.so";
  ASSERT_EQ(registry_set_value(key, value, REGISTRY_SZ, text.c_str(), uint32_t(text.size() + 1)), REGISTRY_OK);
  std::string stored = tarvo_test::read_file(f.file());
  EXPECT_EQ(f.run("ulvane Tarvo", &err), 1);
  EXPECT_NE(err.find("left unchanged"), std::string::npos) << err;
  EXPECT_EQ(tarvo_test::read_file(f.file()), stored);

  // A value that cannot be read (not a file) is a failure, not "no list".
  std::filesystem::remove(f.file());
  std::filesystem::create_directories(f.file());
  EXPECT_EQ(f.run("ulvane Tarvo"), 1);
}

TEST(Svcarm, ArmsAndStartsARegisteredServiceAndExitsZeroOnFailures)
{
  fixture f;
  std::filesystem::create_directories(f.dir / "scm/vennard.service");
  tarvo_test::write_file(f.dir / "scm/vennard.service/config", "start=demand\ndisplay=vennard\n");
  tarvo_test::write_file(f.dir / "scm/vennard.service/state", "pid=0\nstate=stopped\n");
  std::string err;
  EXPECT_EQ(f.run("svcarm 'Tarvo Media Server'", &err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(tarvo_test::read_file(f.dir / "scm/vennard.service/config"), "display=Tarvo Media Server\nstart=auto\n");
  std::string state = tarvo_test::read_file(f.dir / "scm/vennard.service/state");
  EXPECT_NE(state.find("state=running\n"), std::string::npos) << state;

  // Already running: armed again, the start refused, still 0.
  EXPECT_EQ(f.run("svcarm 'Tarvo Media Server'", &err), 0);
  EXPECT_NE(err.find("cannot start Tarvo Media Server"), std::string::npos) << err;

  EXPECT_EQ(f.run("svcarm 'No Such Thing'", &err), 0);
  EXPECT_EQ(err, "svcarm: cannot set No Such Thing to start automatically: no such service: no-such-thing.service\n");
  EXPECT_EQ(f.run("svcarm", &err), 1);
  EXPECT_EQ(f.run("svcarm a b", &err), 1);
}
