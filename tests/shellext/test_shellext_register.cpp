// tarvo-shellext-register on both modules: the registry records, the
// approval value and the extension-folder link, their removal, and nothing
// registered when the extension folder cannot be written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "tarvo_test.h"

namespace {

namespace fs = std::filesystem;

struct registrar {
  tarvo_test::scratch_dir dir;
  std::string bin = std::getenv("TARVO_BIN");
  int run(const std::string &args, const std::string &ext)
  {
    int status;
    tarvo_test::command_output("TARVO_REGISTRY_ROOT='" + dir / "reg" + "' TARVO_NAUTILUS_EXTENSION_DIR='" + ext +
                                   "' '" + bin + "/tarvo-shellext-register' " + args + " 2>/dev/null",
                               &status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string value(const std::string &key, const std::string &name = "@")
  {
    std::string p = dir / ("reg/" + key + "/" + name);
    return fs::exists(p) ? tarvo_test::read_file(p) : "(none)";
  }
};

std::string sz(const std::string &text) { return std::string("\x01\0\0\0", 4) + text + std::string(1, '\0'); }

const std::string clsid = "{FC238258-1857-4f13-A419-32A7E1F55885}";
const std::string approved = "HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/Shell Extensions/Approved";

}  // namespace

TEST(ShellextRegister, RecordsAndLinkComeAndGoTogether)
{
  registrar r;
  fs::create_directories(r.dir / "ext");
  std::string module = fs::canonical(r.bin + "/libHaldorShellEx.so");
  ASSERT_EQ(r.run("'" + r.bin + "/libHaldorShellEx.so'", r.dir / "ext"), 0);
  EXPECT_EQ(r.value(approved, clsid), sz("Tarvo Media Server ShlExt extension"));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/Directory/ShellEx/ContextMenuHandlers/HaldorShlExt"), sz(clsid));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/CLSID/" + clsid), sz("HaldorShellExt Class"));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/CLSID/" + clsid + "/InprocServer32"), sz(module));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/CLSID/" + clsid + "/InprocServer32", "ThreadingModel"), sz("Apartment"));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/HaldorShellEx.HaldorShellExt/CurVer"), sz("HaldorShellEx.HaldorShellExt.1"));
  EXPECT_EQ(fs::read_symlink(r.dir / "ext/libHaldorShellEx.so"), module);

  ASSERT_EQ(r.run("'" + r.bin + "/libbraxen.so'", r.dir / "ext"), 0);
  EXPECT_TRUE(fs::is_directory(
      r.dir / "reg/HKEY_CLASSES_ROOT/*/Shellex/ContextMenuHandlers/{C724DE8D-4CE5-428D-829D-170E7C3623ED}"));
  EXPECT_EQ(r.value("HKEY_CLASSES_ROOT/Braxen.BraxenMenu.1/CLSID"), sz("{C724DE8D-4CE5-428D-829D-170E7C3623ED}"));

  ASSERT_EQ(r.run("'" + r.bin + "/libHaldorShellEx.so' -u", r.dir / "ext"), 0);
  EXPECT_EQ(r.value(approved, clsid), "(none)");
  EXPECT_FALSE(fs::exists(r.dir / "reg/HKEY_CLASSES_ROOT/CLSID/" + clsid));
  EXPECT_FALSE(fs::exists(r.dir / "reg/HKEY_CLASSES_ROOT/Directory/ShellEx/ContextMenuHandlers/HaldorShlExt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(r.dir / "ext/libHaldorShellEx.so")));
  // What braxen shares with it stays.
  EXPECT_TRUE(fs::is_directory(r.dir / "reg/HKEY_CLASSES_ROOT/CLSID/{C724DE8D-4CE5-428D-829D-170E7C3623ED}"));
  EXPECT_TRUE(fs::exists(fs::symlink_status(r.dir / "ext/libbraxen.so")));

  // An extension folder that cannot take the link: access denied, nothing
  // registered.
  tarvo_test::write_file(r.dir / "not-a-folder", "");
  EXPECT_EQ(r.run("'" + r.bin + "/libHaldorShellEx.so'", r.dir / "not-a-folder"), 1);
  EXPECT_EQ(r.value(approved, clsid), "(none)");
  EXPECT_FALSE(fs::exists(r.dir / "reg/HKEY_CLASSES_ROOT/CLSID/" + clsid));
  EXPECT_EQ(r.run("", r.dir / "ext"), 2);
}
