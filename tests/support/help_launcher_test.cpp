#include "support/help_launcher.h"

#include <gtest/gtest.h>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/status_log.h"
#include "testkit/files.h"
#include "testkit/scripted_host.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {
namespace {

namespace fs = std::filesystem;
using testkit::getBytes;
using testkit::putBytes;

struct HelpLauncherTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  testkit::ScratchFolder root;
  fs::path share = root.dir / "share";  // lies "in a network folder"
  std::string program = share.string() + "/";
  std::string temp = root.path("temp") + "/";
  HelpLauncher help{errors, host,
                    {[this] { return program; }, [this] { return temp; },
                     [this](const std::string& p) { return !p.starts_with(share.string()); }, {}}};

  void SetUp() override { fs::create_directories(root.dir / "temp"); }
};

TEST_F(HelpLauncherTest, LocalProgramUsesTheFileBesideItAndContextsAreTopicNumbers) {
  const std::string sep(1, kPathSeparator);
  for (const auto& [folder, expected] : {std::pair<std::string, std::string>{"/opt/kelvane/", "/opt/kelvane/help/Kelvane.chm"},
                                         {"/opt/kelvane", "/opt/kelvane" + sep + "help" + sep + "Kelvane.chm"},
                                         {"/", "/help/Kelvane.chm"},
                                         {"C:\\", "C:\\help\\Kelvane.chm"}}) {
    program = folder;
    help.setHelpPath();
    EXPECT_EQ(help.helpPath(), expected);
    EXPECT_EQ(help.applicationHelpFile(), expected);
  }
  EXPECT_TRUE(fs::is_empty(root.dir / "temp"));

  program = "/opt/kelvane/";
  for (const auto& [context, topic] : {std::pair{"2100", 2100}, {"", 0}, {" 12.5 x", 12}, {"13.5", 14}, {"abc", 0}}) {
    help.showHelp(context);
    EXPECT_EQ(host.helpRequests.back(), std::make_pair(std::string("/opt/kelvane/help/Kelvane.chm"), topic));
  }
  std::string path = "  \\\\server\\share\\Kelvane.chm ";  // refused by its form
  EXPECT_FALSE(help.validCHMPath(path));
  EXPECT_EQ(path, "\\\\server\\share\\Kelvane.chm");
}

TEST_F(HelpLauncherTest, InstalledProgramFallsBackToItsDataFolder) {
#ifndef _WIN32
  EXPECT_EQ(installedDataFolder("/usr/bin/"), "/usr/share/kelvane/");
  EXPECT_EQ(installedDataFolder("/usr/local/bin"), "/usr/local/share/kelvane/");
#endif
  const std::string bin = root.path("bin") + kPathSeparator, data = root.path("data") + kPathSeparator;
  HelpLauncher installed{errors, host, {[&] { return bin; }, [this] { return temp; },
                                        [](const std::string&) { return true; }, [&] { return data; }}};
  const std::string sep(1, kPathSeparator), file = "help" + sep + "Kelvane.chm";
  for (const auto& [present, expected] : {std::pair{"", bin}, {"data", data}, {"bin", bin}}) {
    if (*present) putBytes(root.dir / present / "help" / "Kelvane.chm", "chm");
    installed.setStartupPath();
    EXPECT_EQ(installed.helpPath(), expected + file) << present;
    installed.setHelpPath();
    EXPECT_EQ(installed.helpPath(), expected + file) << present;
  }
}

TEST_F(HelpLauncherTest, NetworkProgramGetsATemporaryCopyMissingFileOrNot) {
  help.setHelpPath();  // no file yet: nothing said, the copy's path all the same
  EXPECT_EQ(help.helpPath(), temp + "Kelvane.chm");
  EXPECT_FALSE(fs::exists(temp + "Kelvane.chm"));
  for (const char* version : {"v2", "v3"}) {  // each copy replaces the last
    putBytes(share / "help" / "Kelvane.chm", version);
    help.setHelpPath();
    EXPECT_EQ(getBytes(temp + "Kelvane.chm"), version);
  }
  EXPECT_TRUE(host.shown.empty());
}

TEST_F(HelpLauncherTest, WindowHelpRefusesTheNetworkPathItHolds) {
  help.setStartupPath();
  help.windowShowHelp("0");
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.shown[0].title + ": " + host.shown[0].text,
            "Help Error: Unable to display help.  This is because the program is installed to a network "
            "folder and your temporary windows folder is also a network folder.  You may "
            "download the printable help file from our website instead.");
  EXPECT_TRUE(host.helpRequests.empty() && fs::is_empty(root.dir / "temp"));

  // A local path whose file has gone: the path is worked out again.
  putBytes(share / "help" / "Kelvane.chm", "chm");
  help.setHelpPathText(temp + "Kelvane.chm");
  help.windowShowHelp("7");
  EXPECT_EQ(host.helpRequests.back(), std::make_pair(temp + "Kelvane.chm", 7));
  EXPECT_EQ(getBytes(temp + "Kelvane.chm"), "chm");
}

#ifndef _WIN32
TEST_F(HelpLauncherTest, SharedTemporaryFolderNeverLetsALinkRedirectTheCopy) {
  ASSERT_EQ(::chmod((root.dir / "temp").c_str(), 01777), 0);  // like /tmp
  const fs::path source = share / "help" / "Kelvane.chm", victim = root.dir / "victim";
  const fs::path own = root.dir / "temp" / ("kelvane-" + std::to_string(::geteuid()));
  putBytes(source, "help text");
  putBytes(victim / "precious", "keep");

  // Our folder's name taken by a link: refused, the path stays beside the program.
  fs::create_directory_symlink(victim, own);
  help.setHelpPath();
  EXPECT_EQ(help.helpPath(), source.string());
  EXPECT_FALSE(fs::exists(victim / "Kelvane.chm"));

  // A link in place of the file in our own folder is replaced, not written through.
  fs::remove(own);
  fs::create_directory(own);
  fs::create_symlink(victim / "precious", own / "Kelvane.chm");
  help.setHelpPath();
  EXPECT_EQ(help.helpPath(), (own / "Kelvane.chm").string());
  EXPECT_EQ(getBytes(own / "Kelvane.chm"), "help text");
  EXPECT_FALSE(fs::is_symlink(own / "Kelvane.chm"));
  EXPECT_EQ(getBytes(victim / "precious"), "keep");
  struct stat st {};
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // tightened
  if (::geteuid() == 0) {  // a folder of another user is refused
    ASSERT_EQ(::chown(own.c_str(), 4242, 4242), 0);
    EXPECT_EQ(copyHelpToTemp(source.string(), temp), "");
  }
}

TEST(LocalFileSystem, MountHoldingThePathDecides) {
  const std::string mountInfo =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 0:50 / /home/u/net rw,nosuid - fuse.sshfs u@host:/ rw\n"
      "42 22 0:52 / /mnt/a\\040b rw shared:7 master:2 - cifs //srv/a rw\n"
      "43 22 0:53 / /mnt/over rw - nfs4 srv:/x rw\n"
      "44 43 0:54 / /mnt/over rw - fuse.gocryptfs /dev/sdb1 rw\n";
  for (const auto& [path, network] : {std::pair{"/home/u/net/help/Kelvane.chm", true}, {"/home/u/net", true},
                                      {"/home/u/netX/a", false}, {"/mnt/a b/help", true},
                                      {"/mnt/over/k", false}})  // hidden by the later mount
    EXPECT_EQ(isNetworkFsType(mountTypeFor(mountInfo, path)), network) << path;
  for (const char* type : {"smb3", "afs", "ceph", "9p"}) EXPECT_TRUE(isNetworkFsType(type));
  EXPECT_FALSE(isLocalFileSystemPath(""));
  EXPECT_TRUE(isLocalFileSystemPath(fs::current_path().string() + "/not/there/yet.chm"));
}
#endif

}  // namespace
}  // namespace kelvane
