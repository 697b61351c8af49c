// Finding the server among a Linux host's processes, on a proc folder laid out by the test: a
// server run by Wine or Proton, named by a Unix path, a Windows path through its prefix or a path
// relative to its current folder, in a container whose root folder is another than the checker's,
// where every link is followed inside that root; a process's mounts and user. And the pieces of
// reading a file as the server does: Wine's names in any case, a link that leads nowhere told by
// where it would lead, and the server's view taken by one thread alone.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/TestSupport.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/find/ServerProcessLinux.h"
#include "tools/check/text/Files.h"

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

// Lays out a process's folder as /proc shows it: root and cwd are folders of the test, the
// arguments and the environment end each entry with a NUL.
void Lay(const fs::path& dir, const std::string& cmdline, const fs::path& root,
         const std::string& environment = "", const fs::path& cwd = {},
         const std::string& cgroup = "0::/\n", const std::string& exe = "/usr/lib/wine/wine64") {
  fs::create_directories(dir);
  fs::create_symlink(exe, dir / "exe");
  fs::create_directory_symlink(root, dir / "root");
  fs::create_directory_symlink(cwd.empty() ? root : cwd, dir / "cwd");
  WriteFile(dir / "cmdline", cmdline);
  WriteFile(dir / "environ", environment);
  WriteFile(dir / "cgroup", cgroup);
  WriteFile(dir / "status", "Name:\tArkAscendedServ\nUid:\t1000\t1000\t1000\t1000\n");
}

constexpr char kWin64[] = "ShooterGame/Binaries/Win64";
constexpr char kLaunch[] =
    "TheIsland_WP?listen?SessionName=\"My ARK Server\"?Port=7779\0-NoBattlEye\0";
constexpr char kJoined[] =
    " \"TheIsland_WP?listen?SessionName=\\\"My ARK Server\\\"?Port=7779\" -NoBattlEye";

// The root folder of a container as its start scripts leave it: the server in /srv/ARK Server, a
// Wine prefix in the home of the user steam whose drive C: holds a link to the server, one of
// Proton's whose drive C: holds a copy, and the passwd file.
struct Container {
  test::TempDir dir;
  fs::path root = dir.Path() / "rootfs";
  Container() {
    WriteFile(root / "srv/ARK Server" / kWin64 / "ArkAscendedServer.exe", "");
    const fs::path prefix = root / "home/steam/.wine";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
    // Absolute, as Wine makes it: from the container's root, not the checker's.
    fs::create_directory_symlink("/", prefix / "dosdevices/z:");
    fs::create_directory_symlink("/srv/ARK Server", prefix / "drive_c/ark");
    const fs::path proton = root / "data/compat/pfx";
    WriteFile(proton / "drive_c/ARK" / kWin64 / "ArkAscendedServer.exe", "");
    fs::create_directories(proton / "dosdevices");
    fs::create_directory_symlink("../drive_c", proton / "dosdevices/c:");
    WriteFile(root / "etc/passwd",
              "root:x:0:0:root:/root:/bin/bash\nsteam:x:1000:1000::/home/steam:/bin/bash\n");
  }
};

// Environment variables as an environ file holds them.
std::string Environ(std::initializer_list<std::string> variables) {
  std::string bytes;
  for (const std::string& variable : variables) bytes += variable + '\0';
  return bytes;
}

std::string Arguments(const std::string& program) {
  return program + '\0' + std::string(kLaunch, sizeof kLaunch - 1) + std::string(20, '\0');
}

TEST(LinuxServerProcessTest, FindsTheServerWineRunsByEveryPathToIt) {
  const Container container;
  const fs::path proc = container.dir.Path() / "proc";
  const std::string inside = "/srv/ARK Server/ShooterGame/Binaries/Win64/ArkAscendedServer.exe";
  const std::string onZ =
      "Z:\\srv\\ARK Server\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe";
  const std::string wine = Environ({"WINEPREFIX=/home/steam/.wine"});
  const std::string onC = "C:\\ark\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe";
  const struct {
    const char* what;
    std::string program;  // the first argument
    std::string environment;
    std::string cwd;      // inside the container
    std::string inside;   // where the program is found, inside the container; empty for none
    std::string windows;  // its Windows path, as Wine gives it
    std::string prefix;
    bool proton = false;
  } cases[] = {
      {"Z:, a drive Wine links to the root", onZ, wine, "/", inside, onZ, "/home/steam/.wine"},
      {"C: in another case, through a link on the drive",
       "c:\\ark\\shootergame\\binaries\\WIN64\\arkascendedserver.exe", wine, "/", inside,
       "C:\\ark\\shootergame\\binaries\\WIN64\\arkascendedserver.exe", "/home/steam/.wine"},
      {"C: of Proton's prefix, without WINEPREFIX",
       "C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe",
       Environ({"STEAM_COMPAT_DATA_PATH=/data/compat", "HOME=/root"}), "/",
       "/data/compat/pfx/drive_c/ARK/ShooterGame/Binaries/Win64/ArkAscendedServer.exe",
       "C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe", "/data/compat/pfx", true},
      {"the prefix in HOME", onC, Environ({"HOME=/home/steam"}), "/", inside, onC,
       "/home/steam/.wine"},
      {"the prefix in the user's home, no HOME", onC, "", "/", inside, onC, "/home/steam/.wine"},
      {"a path relative to the current folder", "ArkAscendedServer.exe", wine,
       "/srv/ARK Server/ShooterGame/Binaries/Win64", inside, onZ, "/home/steam/.wine"},
      {"a Unix path through drive C:'s folder, which Wine names by C:",
       "/home/steam/.wine/drive_c/ark/ShooterGame/Binaries/Win64/ArkAscendedServer.exe", wine, "/",
       inside, onC, "/home/steam/.wine"},
      {"a drive the prefix lacks", "D:\\ARK\\ArkAscendedServer.exe", wine, "/", "", "", ""},
  };
  std::vector<std::uint32_t> servers;
  std::uint32_t id = 100;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    ++id;
    const fs::path dir = proc / std::to_string(id);
    Lay(dir, Arguments(test.program), container.root, test.environment,
        container.root / test.cwd.substr(1),
        "0::/system.slice/docker-"
        "3f2a1b9c8d7e4f5a6b7c8d9e0f1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d7e8f90.scope\n");
    const check::ProcessLook look = check::LookAtProcess(test::Utf8FromPath(dir), id);
    EXPECT_EQ(look.Server, !test.inside.empty());
    if (!look.Server) continue;
    servers.push_back(id);
    const check::ServerPlace& place = look.Process.Place;
    const std::string root = test::Utf8FromPath(dir / "root");
    EXPECT_EQ(place.Root, root);
    EXPECT_EQ(place.Container, "Docker container 3f2a1b9c8d7e");
    EXPECT_EQ(place.PathInside, test.inside);
    EXPECT_EQ(look.Process.Executable, root + test.inside);
    EXPECT_EQ(place.WindowsPath, test.windows);
    EXPECT_EQ(place.WinePrefix, test.prefix);
    EXPECT_EQ(place.Proton, test.proton);
    // The command line Wine gives the program: its Windows path in quotes, the arguments joined,
    // the NULs Wine leaves at the end no arguments.
    EXPECT_EQ(check::CommandLineIn(test::Utf8FromPath(proc), id).Text,
              "\"" + place.WindowsPath + "\"" + kJoined);
  }

  // What is no server: another Windows program under Wine, a program of another name.
  Lay(proc / "201", Arguments("C:\\windows\\system32\\winedevice.exe"), container.root, wine);
  Lay(proc / "202", Arguments(inside), container.root, wine, {}, "0::/\n", "/usr/bin/bash");
  std::vector<std::uint32_t> listed;
  for (const check::ServerProcess& process :
       check::ListServerProcessesIn(test::Utf8FromPath(proc), servers.front())) {
    listed.push_back(process.Id);
  }
  servers.erase(servers.begin());  // the first is the checker itself
  EXPECT_EQ(listed, servers);
}

// The container is named as its runtime names the control group it makes.
TEST(LinuxServerProcessTest, NamesTheContainerFromItsControlGroup) {
  const std::string id = "3f2a1b9c8d7e4f5a6b7c8d9e0f1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d7e8f90";
  const struct {
    std::string cgroup;
    const char* name;
  } cases[] = {
      {"0::/system.slice/docker-" + id + ".scope\n", "Docker container 3f2a1b9c8d7e"},
      {"12:pids:/docker/" + id + "\n0::/docker/" + id + "\n", "Docker container 3f2a1b9c8d7e"},
      {"0::/user.slice/user-1000.slice/user@1000.service/user.slice/libpod-" + id +
           ".scope/container\n",
       "Podman container 3f2a1b9c8d7e"},
      {"0::/lxc.payload.ark-server/init.scope\n", "LXC container ark-server"},
      {"0::/machine.slice/machine-ark\\x2dserver.scope\n", "systemd machine ark-server"},
      {"0::/\n", ""},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(check::ContainerOf(test.cgroup), test.name) << test.cgroup;
  }
}

// A process that sees other mounts than the checker, below the same root folder, is read through
// its root folder all the same; its user is the one the system checks its file access with.
TEST(LinuxServerProcessTest, TellsAProcesssMountsAndUser) {
  const test::TempDir dir;
  const fs::path proc = dir.Path() / "proc";
  const std::string exe = test::Utf8FromPath(dir.Path() / "ark" / kWin64 / "ArkAscendedServer.exe");
  fs::create_directories(proc / "self/ns");
  fs::create_symlink("mnt:[4026531841]", proc / "self/ns/mnt");
  const struct {
    const char* what;
    const char* mounts;  // its ns/mnt link; empty for none
    std::string status;
    bool throughRoot;
    std::optional<check::ProcessUser> user;
  } cases[] = {
      {"the checker's mounts", "mnt:[4026531841]",
       "Uid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\nGroups:\t27 1000 \n", false,
       check::ProcessUser{1000, 1000, {27, 1000}}},
      {"mounts of its own, ids changed for files", "mnt:[4026532999]",
       "Uid:\t0\t0\t0\t1000\nGid:\t0\t0\t0\t1001\nGroups:\t\n", true,
       check::ProcessUser{1000, 1001, {}}},
      {"nothing said of its mounts, no Gid line", "", "Uid:\t1000\t1000\t1000\t1000\n", false,
       std::nullopt},
  };
  std::uint32_t id = 300;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const fs::path process = proc / std::to_string(++id);
    Lay(process, Arguments(exe), "/", "", {}, "0::/\n", exe);
    WriteFile(process / "status", test.status);
    if (*test.mounts) {
      fs::create_directories(process / "ns");
      fs::create_symlink(test.mounts, process / "ns/mnt");
    }
    const check::ProcessLook look = check::LookAtProcess(
        test::Utf8FromPath(process), id, check::OwnMountsIn(test::Utf8FromPath(proc)));
    ASSERT_TRUE(look.Server);
    const check::ServerPlace& place = look.Process.Place;
    EXPECT_EQ(place.Root, test.throughRoot ? test::Utf8FromPath(process / "root") : "");
    EXPECT_EQ(place.OwnMounts, test.throughRoot);
    EXPECT_EQ(place.User, test.user);
    EXPECT_EQ(look.Process.Executable,
              (test.throughRoot ? test::Utf8FromPath(process / "root") : "") + exe);
  }
}

// /proc mounted to hide other users' processes, as mountinfo shows it.
TEST(LinuxServerProcessTest, TellsWhetherProcHidesOtherUsersProcesses) {
  const std::string before =
      "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc ";
  const struct {
    std::string mountinfo;
    bool hides;
  } cases[] = {
      {before + "rw\n", false},
      {before + "rw,hidepid=invisible\n", true},
      {before + "rw,hidepid=2,gid=4\n", true},
      {before + "rw,hidepid=0\n", false},
      {"25 1 0:21 / /mnt/proc rw - proc proc rw,hidepid=2\n" + before + "rw\n", false},
      {"26 1 8:1 / /proc rw - ext4 /dev/sda1 rw,hidepid=2\n", false},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(check::ProcHidesProcesses(test.mountinfo), test.hides) << test.mountinfo;
  }
}

// Under Wine a name is found in any case, after ".." took away the name before it, as Windows
// reads a path; for any other server, paths stay as written.
TEST(LinuxServerProcessTest, FindsNamesInAnyCaseForAServerUnderWine) {
  const test::TempDir dir;
  const fs::path saved = dir.Path() / "ShooterGame/saved";
  WriteFile(saved / "config/windowsserver/gameusersettings.ini", "");
  fs::create_directories(dir.Path() / "ShooterGame/Binaries/Win64");
  const std::string root = dir.DirText();
  const struct {
    std::string path;
    bool anyCase;
    std::string found;
  } cases[] = {
      {root + "ShooterGame/Binaries/Win64/../../Saved/Config/WindowsServer/GameUserSettings.ini",
       true, root + "ShooterGame/saved/config/windowsserver/gameusersettings.ini"},
      {root + "ShooterGame/Saved/Config/WindowsServer/", true,
       root + "ShooterGame/saved/config/windowsserver/"},
      {root + "shootergame/Saved/Logs/ShooterGame.log", true,
       root + "ShooterGame/saved/Logs/ShooterGame.log"},
      {root + "ShooterGame/Saved/Config", false, root + "ShooterGame/Saved/Config"},
  };
  for (const auto& test : cases) {
    check::FileReader reader;
    reader.AnyCase = test.anyCase;
    const check::ReadingFor reading(reader);
    EXPECT_EQ(check::AsFound(test.path), test.found) << test.path;
  }
  EXPECT_EQ(check::AsFound(root + "shootergame"), root + "shootergame") << "as the checker sees";
}

// A link that leads nowhere, told by where it would lead for a server in another root folder.
TEST(LinuxServerProcessTest, TellsHowALinkLeadsNowhere) {
  const test::TempDir dir;
  const fs::path folder = dir.Path() / "a/b";
  WriteFile(dir.Path() / "there.json", "");
  const int depth = static_cast<int>(std::distance(folder.begin(), folder.end())) - 1;
  std::string above;
  for (int i = 0; i <= depth; ++i) above += "../";
  const struct {
    const char* what;
    std::string target;
    bool otherRoot;
    std::optional<check::DeadEnd> end;
  } cases[] = {
      {"a target that is there", "../../there.json", true, std::nullopt},
      {"nothing at a relative target", "missing.json", true, check::DeadEnd::Nowhere},
      {"an absolute target in another root", "/nowhere/secret.json", true,
       check::DeadEnd::FromTheRoot},
      {"an absolute target in the checker's root", "/nowhere/secret.json", false,
       check::DeadEnd::Nowhere},
      {"\"..\" above another root", above + "nowhere/secret.json", true,
       check::DeadEnd::AboveTheRoot},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const fs::path link = folder / "config.json";
    fs::create_directories(folder);
    fs::remove(link);
    fs::create_symlink(test.target, link);
    check::FileReader reader;
    if (test.otherRoot) reader.Root = "/proc/4242/root";
    const check::ReadingFor reading(reader);
    const std::optional<check::DeadLink> dead = check::DeadLinkAt(test::Utf8FromPath(link));
    ASSERT_EQ(dead.has_value(), test.end.has_value());
    if (dead) {
      EXPECT_EQ(dead->End, *test.end);
      EXPECT_EQ(dead->Target, test.target);
    }
  }
}

// The server's view is taken by one thread alone: its root folder and its user there, never the
// checker's other threads, and never once that thread has ended.
TEST(LinuxServerProcessTest, TakesTheServersViewOnOneThreadAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root's powers, to take another root and user";
  const test::TempDir dir;
  WriteFile(dir.Path() / "only-root.txt", "root's");
  fs::permissions(dir.Path() / "only-root.txt", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(dir.Path() / "etc/passwd", "nobody:x:65534:65534::/:/bin/false\n");
  check::ServerPlace place;
  place.Root = dir.Path();
  place.User = check::ProcessUser{65534, 65534, {}};
  bool readsOwn = true;
  bool readsInsideRoot = false;
  std::string named;
  std::string error;
  ASSERT_TRUE(check::RunAsServerSees(
      place,
      [&] {
        readsOwn = std::ifstream("/only-root.txt").is_open();
        readsInsideRoot = fs::exists("/etc/passwd") && !fs::exists(dir.Path());
        named = check::UserName(65534);
      },
      error))
      << error;
  EXPECT_FALSE(readsOwn) << "nobody read root's file";
  EXPECT_TRUE(readsInsideRoot);
  EXPECT_EQ(named, "nobody");
  EXPECT_TRUE(std::ifstream(dir.Path() / "only-root.txt").is_open()) << "the checker's own view";
  EXPECT_TRUE(fs::exists(dir.Path()));
}

// Without --plugin-dir the checker takes its own folder when it is a plugin folder, else the
// plugin folder of the one server seen running (or picked), else none: it then says what it sees.
TEST(LinuxServerProcessTest, TakesThePluginFolderOfTheOneServerRunning) {
  const test::TempDir dir;
  const fs::path win64 = dir.Path() / "ark" / kWin64;
  fs::create_directories(win64 / "ArkApi/Plugins/Vesperline");
  const fs::path unpacked = dir.Path() / "Vesperline-checker";
  const fs::path copied = dir.Path() / "Vesperline";
  WriteFile(unpacked / "README.txt", "");
  WriteFile(copied / "config.json", "{}");
  EXPECT_TRUE(check::IsPluginFolder(test::Utf8FromPath(win64 / "ArkApi/Plugins/Vesperline")));
  EXPECT_TRUE(check::IsPluginFolder(test::Utf8FromPath(copied)));
  EXPECT_FALSE(check::IsPluginFolder(test::Utf8FromPath(unpacked)));

  const std::string found = test::Utf8FromPath(win64 / "ArkApi/Plugins/Vesperline");
  check::ServerProcess server, other, refused;
  server.Id = 7;
  server.Executable = test::Utf8FromPath(win64 / "ArkAscendedServer.exe");
  other.Id = 8;
  other.Executable = "/ark2/ArkAscendedServer.exe";
  refused.Id = 9;
  refused.Refused = "Permission denied";
  const struct {
    const char* what;
    std::vector<check::ServerProcess> running;
    std::optional<std::uint32_t> picked;
    std::optional<std::string> folder;
  } cases[] = {
      {"one server", {server, refused}, std::nullopt, found},
      {"two servers", {server, other}, std::nullopt, std::nullopt},
      {"two servers, one picked", {server, other}, 7u, found},
      {"a refused process picked", {server, refused}, 9u, std::nullopt},
      {"none", {refused}, std::nullopt, std::nullopt},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(check::DefaultPluginFolder(test.running, test.picked), test.folder) << test.what;
  }
}

}  // namespace
}  // namespace vesperline
