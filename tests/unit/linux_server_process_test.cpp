// Finding the server among a Linux host's processes, on a proc folder laid out by the test: a
// server run by Wine or Proton, named by a Unix path, a Windows path through its prefix or a path
// relative to its current folder, in a container whose root folder is another than the checker's,
// where every link is followed inside that root.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/support/TestSupport.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/find/ServerProcessLinux.h"

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
