// The admin's checker against the real plugin: in the same server tree, with the same launch
// arguments, the checker names the sources of each fact and predicts exactly what the plugin
// does, which the plugin file run in a host process shows. Whole text reports are compared with
// the reports checked in under tests/golden.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <regex>

#include <nlohmann/json.hpp>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "common/Version.h"
#include "discovery/LaunchArguments.h"
#include "tests/support/PeImages.h"
#include "tests/support/TestSupport.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/launch/LogCommandLine.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/model/Check.h"
#include "tools/check/report/Report.h"
#include "tools/check/text/Printable.h"
#include "tools/check/warnings/Address.h"
#include "tools/check/warnings/PeImage.h"
#include "tools/check/warnings/Warnings.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vesperline {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

constexpr char kToken[] = "SECRETtoken-4711";
constexpr char kMaskedToken[] = "SE************11";

// Launch arguments of a server started from a list of arguments: the spawn and the checker's
// command line quote the first, which holds a blank, as Wine and Linux's join do.
const std::vector<std::string> kLaunch{
    "TheIsland_WP?listen?SessionName=My Server?Port=7777?QueryPort=27015", "-WinLiveMaxPlayers=50"};

using test::ExpectGolden;
using test::Utf16LeFile;

// The output with '\n' for each line end: the Windows checker writes "\r\n".
std::string UnixLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") != 0) out += text[i];
  }
  return out;
}

// The report with UnixLines, the test's folder root written as <server>, the separators of each
// path under it written as '/', the plugin file named as on Windows, the project's version
// written as <version>, and without what the checker adds under Wine of the processes Wine hides,
// so that one golden file serves every platform and every version.
std::string Portable(const std::string& report, const std::string& root) {
  std::string text = UnixLines(report);
  const std::string underWine = " " + check::OtherWinePrefixes();
  for (std::size_t at; (at = text.find(underWine)) != std::string::npos;) {
    text.erase(at, underWine.size());
  }
  for (std::size_t at; (at = text.find("Vesperline.so")) != std::string::npos;) {
    text.replace(at, 13, "Vesperline.dll");
  }
  // Only the version itself, not one that merely begins or ends with the same digits: a version
  // ending a sentence is followed by a full stop, another version's next part by a digit.
  const std::string_view version = kVersion;
  const auto digit = [&](std::size_t at) {
    return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0;
  };
  for (std::size_t at = 0; (at = text.find(version, at)) != std::string::npos;) {
    const std::size_t end = at + version.size();
    if ((at > 0 && (digit(at - 1) || text[at - 1] == '.')) || digit(end) ||
        (text.compare(end, 1, ".") == 0 && digit(end + 1))) {
      at = end;
      continue;
    }
    text.replace(at, version.size(), "<version>");
  }
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, root.size(), root) != 0) {
      out += text[i++];
      continue;
    }
    out += "<server>";
    for (i += root.size(); i < text.size() && text[i] != ' ' && text[i] != '\n'; ++i) {
      out += text[i] == '\\' ? '/' : text[i];
    }
  }
  return out;
}

const std::string kFullConfig =
    std::string("{\"token\": \"") + kToken + "\", \"ip\": \"1.2.3.4\", \"port\": 7777}\n";

// The document the plugin posts when it is unloaded in the server, or nothing when it stays idle.
std::optional<json> RunPlugin(const test::ServerTree& server,
                              const std::vector<std::string>& launch) {
  std::vector<std::string> arguments{"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                                     "--run-ms", "200", "--"};
  arguments.insert(arguments.end(), launch.begin(), launch.end());
  const test::HostRun run = test::RunHost(arguments);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  if (run.requests.empty()) return std::nullopt;
  EXPECT_EQ(run.requests.size(), 1u) << run.output;
  return json::parse(json::parse(run.requests.back()).at("body").get<std::string>());
}

// The checker's --json report for the same launch arguments, behind a server executable.
json RunCheck(const test::ServerTree& server, const std::vector<std::string>& launch) {
  std::string arguments = std::string("ShooterGameServer.exe") + '\0';
  for (const std::string& argument : launch) arguments += argument + '\0';
  const std::string commandLine = JoinProcessArguments(arguments);
  const test::ProgramRun run =
      test::RunChecker({"--plugin-dir", test::Utf8FromPath(server.PluginDir()), "--command-line",
                        commandLine, "--json", "--show-token"});
  json report = json::parse(run.output);
  EXPECT_EQ(run.exitCode, report.at("verdict") == "report" ? 0 : 1);
  return report;
}

// The checker runs the plugin's own start-up: in the same server tree, with the same launch
// arguments, it predicts exactly what the plugin posts, the status and the live world part aside,
// or that it stays idle.
TEST(CheckerTest, PredictsWhatThePluginDoesInTheSameServer) {
  const auto settings = [](const char* text) {
    return [text](const test::ServerTree& server) { test::WriteFile(server.SettingsFile(), text); };
  };
  const struct {
    const char* what;
    std::optional<std::string> config;
    std::function<void(const test::ServerTree&)> more;
    std::vector<std::string> launch;
    // The name both must post, where the row is about it.
    std::optional<std::string> name;
  } cases[] = {
      {"everything found", kFullConfig,
       [](const test::ServerTree& server) {
         test::WriteFile(server.SettingsFile(),
                         "[ServerSettings]\r\nActiveMods=928102,931877\r\nbServerPVE=True\r\n"
                         "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n");
         test::WriteFile(server.Log(), "LogInit: ARK Version: 74.24\r\n");
       },
       kLaunch, std::nullopt},
      {"no config.json", std::nullopt, settings("[ServerSettings]\r\nActiveMods=1\r\n"), kLaunch,
       std::nullopt},
      {"a Notepad config.json without a port, the port in the launch arguments",
       Utf16LeFile(u"{\r\n \"token\": \"t\u00f6ken-\U0001F996\",\r\n \"ip\": \"1.2.3.4\"\r\n}\r\n"),
       settings(""), kLaunch, std::nullopt},
      {"a settings file one level too high, beside ShooterGame", kFullConfig,
       [](const test::ServerTree& server) {
         test::WriteFile(
             server.Root() / "Saved" / "Config" / "WindowsServer" / "GameUserSettings.ini",
             "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n");
       },
       kLaunch, std::nullopt},
      {"a Notepad settings file",
       kFullConfig,
       [](const test::ServerTree& server) {
         test::WriteFile(server.SettingsFile(),
                         Utf16LeFile(u"[SessionSettings]\r\nSessionName=\u00c4rger \U0001F996\r\n"
                                     u"[ServerSettings]\r\nServerPVE=true\r\n"));
       },
       {"TheIsland_WP?listen?Port=7777"},
       std::nullopt},
      // A server manager's line: on Windows the spawn quotes the first argument, which holds
      // spaces; on Linux it stays bare. Either way the name ends with that argument, and the
      // cluster id behind it never reaches the list.
      {"a server manager's launch line",
       kFullConfig,
       settings(""),
       {"TheIsland_WP?listen?SessionName=[EU] Rex Hunters - PvE x3 | \u00c4gypten?Port=7777"
        "?MaxPlayers=70",
        "-clusterid=secretcluster", "-NoBattlEye", "-mods=928102,931877"},
       "[EU] Rex Hunters - PvE x3 | \u00c4gypten"},
      // A Linux container's start script writes SessionName=\"...\" in an unquoted word, which
      // the shell splits at the blanks; Wine writes the quotes as \", the Linux build joins them
      // the same way, and the server joins the pieces again.
      {"a container's launch line",
       kFullConfig,
       settings("[ServerSettings]\r\nActiveMods=111\r\nbServerPVE=False\r\n"),
       {"TheIsland_WP?listen?SessionName=\"[EU]", "Rex", "|", "2x\"?Port=7777?ServerPVE=True",
        "-mods=\"928102,931877\"", "-WinLiveMaxPlayers=40"},
       "[EU] Rex | 2x"},
      // The same script with the first argument quoted whole as well: the server quotes it whole
      // again, so its map URL ends at the first inner quote, and neither takes the name.
      {"a container's first argument quoted whole with quotes inside it",
       kFullConfig,
       settings("[SessionSettings]\r\nSessionName=From The File\r\n"),
       {"TheIsland_WP?listen?SessionName=\"[EU] Rex | 2x\"?Port=7777", "-NoBattlEye"},
       "From The File"},
  };
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    const test::ServerTree server;
    if (check.config) server.WriteConfig(*check.config);
    check.more(server);
    const std::optional<json> posted = RunPlugin(server, check.launch);
    const json report = RunCheck(server, check.launch);
    EXPECT_EQ(report.at("verdict"), posted ? "report" : "idle");
    if (posted) {
      json predicted = report.at("document");
      json actual = *posted;
      for (const char* live : {"status", "player_current", "day", "players"}) {
        predicted.erase(live);
        actual.erase(live);
      }
      EXPECT_EQ(predicted, actual);
      if (check.name) {
        EXPECT_EQ(actual.at("name"), *check.name);
      }
    } else {
      EXPECT_TRUE(report.at("document").is_null());
      EXPECT_FALSE(report.at("idle_reasons").empty());
    }
  }
}

// The warnings of a text report, one per line of its Warnings section.
std::vector<std::string> TextWarnings(const std::string& report) {
  std::vector<std::string> warnings;
  std::size_t at = report.find("\nWarnings\n");
  if (at == std::string::npos) return warnings;
  for (at += 10; report.compare(at, 4, "  - ") == 0;) {
    const std::size_t end = report.find('\n', at);
    warnings.push_back(report.substr(at + 4, end - at - 4));
    at = end + 1;
  }
  return warnings;
}

// The verdict of a text report as the --json report names it, and the number of reasons it gives.
std::string TextVerdict(const std::string& report) {
  if (report.find("\nVerdict: the plugin would report") != std::string::npos) return "report";
  if (report.find("\nVerdict: the plugin would stay idle") != std::string::npos) return "idle";
  if (report.find("\nVerdict: the plugin would not run") != std::string::npos) return "not loaded";
  return "";
}

std::size_t TextVerdictReasons(const std::string& report) {
  std::size_t reasons = 0;
  for (std::size_t at = report.find("\nVerdict: "); at != std::string::npos;
       at = report.find("\n  - ", at + 1)) {
    reasons += report.compare(at, 5, "\n  - ") == 0;
  }
  return reasons;
}

// A crafted plugin file kept the checker busy for minutes: the reader of its imports gives up at
// the first library whose name lies outside the file, and looks at no more sections than the
// loader takes.
TEST(CheckerTest, TheImportReaderStopsWhereTheBytesAreNoImportList) {
  std::string nameOutside = test::PeImage({"KERNEL32.dll", "vesperline_simhost.dll"});
  for (int i = 0; i < 4; ++i) nameOutside[0x200 + 12 + i] = '\x7F';
  const struct {
    const char* what;
    std::string image;
    std::vector<std::string> libraries;
  } cases[] = {
      {"a name outside the file first", nameOutside, {}},
      {"the imports in the 96th section",
       test::PeImage({"AsaApi.dll"}, std::nullopt, 95),
       {"AsaApi.dll"}},
      {"the imports in a 97th section", test::PeImage({"AsaApi.dll"}, std::nullopt, 96), {}},
  };
  for (const auto& check : cases) {
    EXPECT_EQ(check::ImportedLibraries(check.image), check.libraries) << check.what;
  }
}

fs::path PluginFile(const fs::path& dir) {
  return dir / fs::path(VESPERLINE_PLUGIN_FILE).filename();
}

// The version resource's numbers of the plugin file built with this checker.
constexpr std::array<std::uint16_t, 4> kOwnVersion{kVersionParts[0], kVersionParts[1],
                                                   kVersionParts[2], kVersionParts[3]};

// Makes the server one the plugin reports without a word, which each case below breaks in one way.
// Its plugin file is a stand-in for a release build of the checker's version, since the one built
// here for tests is Windows' own plugin file, which the checker tells apart.
void Complete(const test::ServerTree& server) {
  test::WriteFile(PluginFile(server.PluginDir()),
                  test::PeImage({"AsaApi.dll", "KERNEL32.dll"}, kOwnVersion));
  server.WriteConfig(kFullConfig);
  test::WriteFile(server.SettingsFile(),
                  "[ServerSettings]\r\nActiveMods=928102\r\n"
                  "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n");
  test::WriteFile(server.Log(), "LogInit: ARK Version: 74.24\r\n");
}

// The checker names the plugin file's version, read from its version resource, beside its own,
// and warns of any other: an older one, one without a version, a newer one, a file that is no
// DLL. A missing plugin file is the verdict's, not a warning.
TEST(CheckerTest, NamesThePluginFilesVersionBesideItsOwn) {
  std::array<std::uint16_t, 4> newer = kOwnVersion;
  ++newer[0];
  const struct {
    const char* what;
    std::optional<std::string> bytes;  // nothing: no plugin file
    const char* compared;
    json version;
  } cases[] = {
      {"this version", test::PeImage({"AsaApi.dll"}, kOwnVersion), "same", kVersion},
      {"an older one", test::PeImage({"AsaApi.dll"}, {{0, 0, 1, 0}}), "older", "0.0.1"},
      {"a newer one", test::PeImage({"AsaApi.dll"}, newer), "newer", check::VersionText({newer})},
      {"none", test::PeImage({"AsaApi.dll"}), "no version", nullptr},
      {"a web page saved under the name", "<!DOCTYPE html><title>404</title>", "no dll", nullptr},
      {"a copy that broke off", test::PeImage({"AsaApi.dll"}, kOwnVersion).substr(0, 1024),
       "no dll", nullptr},
      {"no plugin file", std::nullopt, "not found", nullptr},
  };
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    const test::ServerTree server;
    Complete(server);
    // Vesperline.dll, which the checker on Linux too takes before the plugin built for Linux.
    fs::remove(PluginFile(server.PluginDir()));
    if (check.bytes) test::WriteFile(server.PluginDir() / "Vesperline.dll", *check.bytes);
    const json report = json::parse(
        test::RunChecker({"--plugin-dir", test::Utf8FromPath(server.PluginDir()), "--json"})
            .output);
    const json& file = report.at("plugin_file");
    EXPECT_EQ(file.at("compared"), check.compared);
    EXPECT_EQ(file.at("version"), check.version);
    EXPECT_EQ(file.at("checker_version"), kVersion);
    const bool warns = check.bytes && std::string_view(check.compared) != "same";
    EXPECT_EQ(report.at("warnings").size(), warns ? 1u : 0u) << report.at("warnings");
  }
}

// --version names the checker's version and the commit it was built from, or "unknown" for a
// build made outside a git checkout.
TEST(CheckerTest, VersionNamesTheVersionAndTheCommit) {
  const test::ProgramRun run = test::RunChecker({"--version"});
  EXPECT_EQ(run.exitCode, 0);
  const std::regex expected(std::string("vesperline-check ") + kVersion +
                            "\ncommit ([0-9a-f]{12}(-dirty)?|unknown)\n");
  EXPECT_TRUE(std::regex_match(UnixLines(run.output), expected)) << run.output;
}

// The whole text report of a server tree against its golden file (the token masked), and the
// --json report's warnings against the text report's. Launch passwords never show, in either
// form, even where --show-token shows the token: the password line holds both, in the ?Key= form
// inside a quoted argument and in the -Key= form with a quoted value.
TEST(CheckerGoldenTest, TextReportsMatchTheirGoldenFiles) {
  const char* const kSecrets[] = {"Adm1n S3cret", "S3cret", "Join 2 Play", "2 Play", "hunter2"};
  const std::string kServerExe =
      "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" ";
  const std::string passwordLine =
      "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" "
      "\"TheIsland_WP?listen?ServerAdminPassword=Adm1n S3cret?Port=7777?SessionName=Vesper Test\" "
      "-serverpassword=\"Join 2 Play\" -NoBattlEye";
  const auto config = [](std::string text) {
    return [text](const test::ServerTree& server) {
      server.WriteConfig(text);
      return server.PluginDir();
    };
  };
  const auto settings = [](std::string text) {
    return [text](const test::ServerTree& server) {
      test::WriteFile(server.SettingsFile(), text);
      return server.PluginDir();
    };
  };
  const struct {
    const char* golden;
    // Breaks the complete server; gives the folder to check.
    std::function<fs::path(const test::ServerTree&)> breakServer;
    std::optional<std::string> commandLine = std::nullopt;
    int exitCode = 0;
    // Another program holds config.json open, sharing it with no one, while the checker runs.
    bool configHeldOpen = false;
    // Whether the case is one of this system: a sharing violation is Windows' own, and a link
    // to a FIFO or to a program's own output is a container's.
    bool here = true;
  } cases[] = {
      {"passwords", config(kFullConfig), passwordLine, 0},
      // A server manager's line: the first argument quoted whole, dash options behind it, a
      // quoted mod list, and no mods in the settings file.
      {"a-server-managers-launch-line",
       [](const test::ServerTree& server) {
         test::WriteFile(server.SettingsFile(),
                         "[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n");
         return server.PluginDir();
       },
       "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" "
       "\"TheIsland_WP?listen?SessionName=[EU] Rex Hunters - PvE x3 | \u00c4gypten?Port=7777"
       "?QueryPort=27015?MaxPlayers=70?RCONEnabled=True?RCONPort=27020\" "
       "-clusterid=secretcluster \"-ClusterDirOverride=C:\\ARK\\Cluster\" -NoBattlEye "
       "-mods=\"928102,931877\" -WinLiveMaxPlayers=70 -servergamelog -culture=en",
       0},
      // Launch lines on which the server does otherwise than the admin wrote, from the shapes
      // real launchers write; each golden shows its warning.
      {"a-name-with-unquoted-blanks",
       config(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})"),
       kServerExe + "TheIsland_WP?listen?SessionName=My ARK Server?Port=7779 -NoBattlEye "
                    "-mods=928102",
       1},
      {"options-set-apart-by-blanks", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?SessionName=Rex?Port=7777?MaxPlayers=70 "
                    "?RCONEnabled=True ?RCONPort=27020 -mods=928102",
       0},
      {"options-after-the-first-argument", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen -NoBattlEye ?SessionName=Late?ServerAdminPassword=S3cret "
                    "-mods=928102",
       0},
      {"a-player-limit-without-winlivemaxplayers",
       settings("[ServerSettings]\r\nActiveMods=928102\r\n"
                "[/Script/Engine.GameSession]\r\nMaxPlayers=40\r\n"),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?MaxPlayers=40\" -mods=928102",
       0},
      {"activemods-without-mods", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" -WinLiveMaxPlayers=70", 0},
      {"mods-that-differ-from-activemods", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" -mods=111,222", 0},
      {"pve-that-disagrees",
       settings("[ServerSettings]\r\nActiveMods=928102\r\nbServerPVE=False\r\n"),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?ServerPVE=True\" -mods=928102",
       0},
      // ?ServerPVE=1 beside the settings file's True: nobody knows which the server takes.
      {"serverpve-1-on-the-launch-line",
       settings("[ServerSettings]\r\nActiveMods=928102\r\nbServerPVE=True\r\n"),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?ServerPVE=1\" -mods=928102", 0},
      {"a-port-in-config-json-that-is-not-the-launch-lines", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7790\" -mods=928102", 0},
      // The shapes the server reads otherwise than its launcher meant, in the engine's three
      // steps: a password inside the name, quotes inside a first argument quoted whole (as .NET
      // and Python launchers write it), a dash option before the map (as one manager writes it),
      // an unclosed quote, a program path with blanks and no quotes, a tab in the first argument,
      // dash options (a password among them) inside a first argument quoted whole.
      {"a-password-in-the-servers-own-name", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?Port=7777?SessionName=\"My Server "
                    "-ServerAdminPassword=\"hunter2\" -NoBattlEye -mods=928102",
       0},
      {"quotes-inside-a-whole-quoted-first-argument", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=\\\"My ARK Server\\\"?Port=7777\" "
                    "-mods=928102",
       0},
      // The same shape where -port= gives the server its port and the settings file its name,
      // while config.json's port is what the heartbeat sends.
      {"what-the-server-keeps-of-a-cut-line",
       [](const test::ServerTree& server) {
         server.WriteConfig(kFullConfig);
         test::WriteFile(server.SettingsFile(),
                         "[SessionSettings]\r\nSessionName=From The File\r\n");
         return server.PluginDir();
       },
       kServerExe + "\"TheIsland_WP?listen?SessionName=\\\"Rex Hunters\\\"?MaxPlayers=40\" "
                    "-port=7779 -WinLiveMaxPlayers=40",
       0},
      {"a-dash-option-before-the-map", config(kFullConfig),
       kServerExe + "-ClusterDirOverride=C:\\Cerious "
                    "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7777\" -mods=928102",
       0},
      {"an-unclosed-quote", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?Port=7777?SessionName=\"Rex Hunters -mods=928102", 0},
      {"an-unquoted-program-path", config(kFullConfig),
       "C:\\ARK Server\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe "
       "TheIsland_WP?listen?SessionName=Rex?Port=7777 -mods=928102",
       0},
      {"a-tab-in-the-first-argument", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex\tHunters?Port=7777\" -mods=928102", 0},
      {"dash-options-inside-a-whole-quoted-first-argument", config(kFullConfig),
       kServerExe + "\"TheIsland_WP -ServerAdminPassword=hunter2 -NoBattlEye\" -mods=928102", 0},
      // Lines pasted or typed by hand: a .bat file's start with its title and switches, a spaced
      // dash in an unquoted name, a mod list with a blank after a comma, keys with a blank
      // instead of '=', two ports and two player limits, a name in curly quotes, a password with
      // blanks among options set apart by blanks beside a Japanese name, a cluster's port.
      {"a-bat-files-start-line", config(kFullConfig),
       "start \"\" /high /affinity 3 " + kServerExe +
           "\"Ragnarok_WP?listen?SessionName=Rex Hunters?Port=7777\" -mods=928102",
       0},
      {"a-spaced-dash-in-an-unquoted-name", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?SessionName=Rex - PvE x3?Port=7777 -mods=928102", 0},
      {"a-mod-list-split-at-a-blank", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" -mods=928102, 931877", 0},
      {"launch-options-with-a-blank-instead-of-equals", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" -WinLiveMaxPlayers 50 "
                    "-port 7778 -mods 928102,931877",
       0},
      {"two-ports-and-two-player-limits",
       config(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})"),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7777\" -port=7778 "
                    "-WinLiveMaxPlayers=40 -MaxPlayers=30 -mods=928102",
       0},
      {"curly-quotes-around-the-name", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?SessionName=\u201cRex Hunters\u201d?Port=7777 "
                    "-mods=928102",
       0},
      {"a-password-with-blanks-among-options-set-apart", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?SessionName=\u6050\u7adc\u306e\u5cf6?ServerPassword=Join "
                    "2 Play ?RCONEnabled=True ?RCONPort=27020 -mods=928102",
       0},
      {"a-cluster-servers-port", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7779\" "
                    "-clusterid=rexcluster -mods=928102",
       0},
      {"a-session-name-given-twice", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?SessionName=Old Name\" "
                    "-mods=928102",
       0},
      // The reading order: the settings file's subject comes before the launch line's, but its
      // aside (a key set twice, where the plugin takes the line the server takes) follows the
      // launch line's warning, which changes the name the heartbeat sends.
      {"an-aside-after-what-changes-a-published-fact",
       settings("[SessionSettings]\r\nSessionName=Old Name\r\n[/Script/Engine.GameSession]\r\n"
                "MaxPlayers=70\r\nMaxPlayers=40\r\n[ServerSettings]\r\nActiveMods=928102\r\n"),
       kServerExe + "TheIsland_WP?listen?SessionName=Rex Hunters?Port=7777 -mods=928102", 0},
      // What admins copy or save wrongly: a dash option with an en dash from a guide, a start
      // script with Windows line ends, ?WinLiveMaxPlayers= in the map URL, a mod list with a blank
      // and a comma after the last id, ?ServerPVE with no value.
      {"an-en-dash-from-a-guide", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" \u2013WinLiveMaxPlayers=50 "
                    "-mods=928102",
       0},
      {"a-start-script-with-windows-line-ends", config(kFullConfig),
       kServerExe + "TheIsland_WP?listen?SessionName=Rex?Port=7777 -mods=928102\r", 0},
      {"winlivemaxplayers-in-the-map-url", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?WinLiveMaxPlayers=50\" "
                    "-mods=928102",
       0},
      {"a-mod-list-with-a-blank-and-a-comma-after-the-last-id", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" \"-mods=928102, 931877,\"", 0},
      {"serverpve-with-no-value", config(kFullConfig),
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters?ServerPVE\" -mods=928102", 0},
      // The forms that need no warning: a quoted first argument, -WinLiveMaxPlayers=, -mods= alone
      // and config.json's port 0.
      {"a-launch-line-that-needs-no-warning",
       [](const test::ServerTree& server) {
         server.WriteConfig(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})");
         test::WriteFile(server.SettingsFile(),
                         "[/Script/Engine.GameSession]\r\nMaxPlayers=40\r\n");
         return server.PluginDir();
       },
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters - PvE | 2x?Port=7790\" "
                    "-WinLiveMaxPlayers=40 -mods=928102,931877 -NoBattlEye",
       0},
      // An escape sequence that retitles a terminal, a tab, a carriage return, DEL, a byte that is
      // no UTF-8 and a C1 control.
      {"control-characters",
       config("{\"token\": \"SECRETtoken-4711\", \"ip\": \"\x1b]0;owned\x07\t\r"
              "203.0.113.7\x7f\xff\xc2\x9b\", \"port\": 7777}"),
       std::nullopt, 0},
      // Why each source of the token, the address, the port and the player limit gave what it gave.
      {"numbers-from-the-launch-arguments",
       [](const test::ServerTree& server) {
         server.WriteConfig(R"({"token": " SECRETtoken-4711", "ip": "1.2.3.4", "port": "7777"})");
         test::WriteFile(server.SettingsFile(), "[ServerSettings]\r\nActiveMods=928102\r\n");
         return server.PluginDir();
       },
       "S.exe TheIsland_WP?listen?Port=x?MaxPlayers=40 -port=7778 -WinLiveMaxPlayers=50", 0},
      {"no-usable-identity", config(R"({"token": "", "Ip": "1.2.3.4", "port": -5})"),
       "S.exe TheIsland_WP?listen?Port=0", 1},
      // The lowest port and player limit that are used.
      {"the-lowest-port-and-player-limit",
       [](const test::ServerTree& server) {
         server.WriteConfig(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 1})");
         test::WriteFile(server.SettingsFile(), "[/Script/Engine.GameSession]\r\nMaxPlayers=1\r\n");
         return server.PluginDir();
       },
       std::nullopt, 0},
      {"a-port-beyond-the-range",
       config(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 99999999999})"),
       std::nullopt, 1},
      {"idle-without-command-line",
       config(std::string("{\"token\": \"") + kToken + "\", \"ip\": \"1.2.3.4\"}"), std::nullopt,
       1},
      // The plugin file gone, and disabled by renaming, as admins and managers disable a plugin;
      // the verdict still says what the plugin would do once it runs.
      {"plugin-file-missing",
       [](const test::ServerTree& server) {
         fs::remove(PluginFile(server.PluginDir()));
         return server.PluginDir();
       },
       std::nullopt, 1},
      {"plugin-file-renamed-to-disabled",
       [](const test::ServerTree& server) {
         const fs::path plugin = PluginFile(server.PluginDir());
         fs::rename(plugin, fs::path(plugin) += ".disabled");
         fs::remove(server.PluginDir() / "config.json");
         return server.PluginDir();
       },
       std::nullopt, 1},
      // The release ZIP unpacked into a folder named after it: one level too deep.
      {"wrong-depth",
       [](const test::ServerTree& server) {
         const fs::path deeper = server.PluginDir().parent_path() /
                                 (std::string("Vesperline-") + kVersion + "-win64") / "Vesperline";
         fs::create_directories(deeper);
         fs::copy_file(PluginFile(server.PluginDir()), PluginFile(deeper));
         test::WriteFile(deeper / "config.json", kFullConfig);
         return deeper;
       },
       std::nullopt, 0},
      // A settings file copied from a server of the older game into its folder, WindowsNoEditor,
      // while this server runs without one of its own.
      {"settings-file-in-windowsnoeditor",
       [](const test::ServerTree& server) {
         const fs::path settings = server.SettingsFile();
         fs::create_directories(settings.parent_path().parent_path() / "WindowsNoEditor");
         fs::rename(settings,
                    settings.parent_path().parent_path() / "WindowsNoEditor" / settings.filename());
         return server.PluginDir();
       },
       kServerExe + "\"TheIsland_WP?listen?SessionName=Rex Hunters\" -mods=928102", 0},
      // No server running and no command line given, but the server's log states the line its
      // engine rebuilt at its last start, below the line of a start before it.
      {"the-servers-log-line-read-in-place-of-a-command-line",
       [&](const test::ServerTree& server) {
         server.WriteConfig(R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})");
         const std::string earlier =
             ReadLaunchLine(kServerExe + "TheCenter_WP?listen?Port=7779").EngineLine;
         const std::string last =
             ReadLaunchLine(kServerExe +
                            "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7790"
                            "?ServerAdminPassword=S3cret\" -WinLiveMaxPlayers=50 "
                            "-mods=\"928102, 931877\" -NoBattlEye")
                 .EngineLine;
         test::WriteFile(server.Log(), "Commandline: " + earlier +
                                           "\r\nLogInit: ARK Version: 74.10\r\nCommandline: " +
                                           last + "\r\nLogInit: ARK Version: 74.24\r\n");
         return server.PluginDir();
       },
       std::nullopt, 0},
      // The right place in a server that has not run yet: start it, rather than move the folder.
      {"server-not-started-yet",
       [](const test::ServerTree& server) {
         fs::remove_all(server.Root() / "ShooterGame" / "Saved");
         return server.PluginDir();
       },
       std::nullopt, 0},
      // A settings file that stands there as a link leading nowhere is no file the server has
      // yet to write; nor can anything be said of the server's files below a plugin folder an
      // update removed.
      {"settings-file-a-link-to-nothing",
       [](const test::ServerTree& server) {
#if !defined(_WIN32)
         fs::remove(server.SettingsFile());
         fs::create_symlink("../../../Backup/GameUserSettings.ini", server.SettingsFile());
#endif
         return server.PluginDir();
       },
       std::nullopt, 0, false, !kWindows},
      // (Windows reads ".." from a missing folder as the name before it gone, and finds them.)
      {"plugin-folder-removed",
       [](const test::ServerTree& server) {
         fs::remove_all(server.PluginDir());
         return server.PluginDir();
       },
       std::nullopt, 1, false, !kWindows},
      // The build for tests, which imports its host calls from the simulated host. On Windows it
      // is the plugin file built here; elsewhere a stand-in with the same imports.
      {"plugin-built-for-tests",
       [](const test::ServerTree& server) {
#if defined(_WIN32)
         test::InstallPlugin(server.PluginDir());
#else
         test::WriteFile(PluginFile(server.PluginDir()),
                         test::PeImage({"vesperline_simhost.dll", "KERNEL32.dll"}, kOwnVersion));
#endif
         return server.PluginDir();
       },
       std::nullopt, 0},
      // The plugin file an update left behind, unpacked while the server ran, and a build from
      // before plugin files carried a version.
      {"a-plugin-file-of-an-older-version",
       [](const test::ServerTree& server) {
         test::WriteFile(PluginFile(server.PluginDir()),
                         test::PeImage({"AsaApi.dll", "KERNEL32.dll"}, {{0, 0, 1, 0}}));
         return server.PluginDir();
       },
       std::nullopt, 0},
      {"a-plugin-file-without-a-version",
       [](const test::ServerTree& server) {
         test::WriteFile(PluginFile(server.PluginDir()),
                         test::PeImage({"AsaApi.dll", "KERNEL32.dll"}));
         return server.PluginDir();
       },
       std::nullopt, 0},
      // Notepad saved the new file as "config.json.txt", and Explorer shows "config.json"; the
      // release's config.example.json lies beside it, but a copy of it would lose the values.
      {"config-json-txt",
       [](const test::ServerTree& server) {
         fs::rename(server.PluginDir() / "config.json", server.PluginDir() / "config.json.txt");
         test::WriteFile(server.PluginDir() / "config.example.json", kFullConfig);
         return server.PluginDir();
       },
       std::nullopt, 1},
      // A Discord bot's config.json copied over ours: its token, and a database's address and
      // port.
      {"another-programs-config-json",
       config("{\r\n  \"discord\": {\r\n    \"token\": \"MTA4NzQ1.bot-token\",\r\n"
              "    \"prefix\": \"!\"\r\n  },\r\n  \"database\": {\r\n    \"ip\": \"127.0.0.1\",\r\n"
              "    \"port\": 3306,\r\n    \"user\": \"ark\"\r\n  }\r\n}\r\n"),
       std::nullopt, 0},
      {"config-held-open-by-another-program", config(kFullConfig), std::nullopt, 1, true, kWindows},
      // The first "port" in quotes, a bare one below it.
      {"a-quoted-port-given-twice",
       config("{\"token\": \"SECRETtoken-4711\", \"ip\": \"1.2.3.4\",\r\n\"port\": \"7777\",\r\n"
              "\"port\": 7778}"),
       "S.exe TheIsland_WP?listen?Port=7777", 0},
      // The token pasted with its line break, the address with a blank before it.
      {"pasted-with-a-line-break",
       config("{\r\n  \"token\": \"SECRETtoken-4711\r\n\",\r\n  \"ip\": \" 1.2.3.4\",\r\n"
              "  \"port\": 7777\r\n}\r\n"),
       std::nullopt, 0},
      // A token copied from a web page with a zero-width space inside it, an address with a
      // no-break space after it.
      {"a-token-with-a-zero-width-space",
       config("{\"token\": \"SECRET\u200Btoken-4711\", \"ip\": \"1.2.3.4\u00A0\", "
              "\"port\": 7777}"),
       std::nullopt, 0},
      // An old token left above the new one behind "//", and the port given twice.
      {"keys-given-twice",
       config("{\r\n  // \"token\": \"OLDtoken-0815\",\r\n  \"token\": \"SECRETtoken-4711\",\r\n"
              "  \"ip\": \"1.2.3.4\",\r\n  \"port\": 7777,\r\n  \"port\": 7778\r\n}\r\n"),
       std::nullopt, 0},
      // A container's template that was never filled in: a placeholder for the token, and one
      // for the port that makes the file no JSON; and a comma after the last member, which the
      // plugin passes over.
      {"placeholders-left-in-config-json",
       config("{\n  \"token\": \"${VESPERLINE_TOKEN}\",\n  \"ip\": \"1.2.3.4\",\n"
              "  \"port\": ${GAME_PORT}\n}\n"),
       "S.exe TheIsland_WP?listen", 1},
      {"a-comma-after-the-last-member",
       config("{\r\n  \"token\": \"SECRETtoken-4711\",\r\n  \"ip\": \"1.2.3.4\",\r\n"
              "  \"port\": 7777,\r\n}\r\n"),
       std::nullopt, 0},
      {"single-quotes", config("{'token': 'SECRETtoken-4711', 'ip': '1.2.3.4', 'port': 7777}"),
       std::nullopt, 1},
      // Settings lines with blanks around the '=' (which the server reads as the plain form), and
      // keys set twice: two [SessionSettings] blocks and a second MaxPlayers below the first.
      {"settings-lines",
       settings("[SessionSettings]\r\nSessionName = Vesper Test\r\n[ServerSettings]\r\n"
                "  ActiveMods=928102\r\nbServerPVE =True\r\n[/Script/Engine.GameSession]\r\n"
                "MaxPlayers=70\r\nMaxPlayers=40\r\n[SessionSettings]\r\nSessionName=Old Name\r\n"
                "[SessionSettings]\r\nSessionName=New Name\r\n")},
      // Blanks at the ends of a name and of True, which the server takes off, and before a comma
      // of the mods, which it keeps, in a file saved as UTF-8 with a byte-order mark.
      {"settings-values-with-blanks",
       settings(
           "\xEF\xBB\xBF[SessionSettings]\r\nSessionName=Vesper Test   \r\n[ServerSettings]\r\n"
           "ActiveMods=928102 ,931877\r\nbServerPVE=True \r\n")},
      // A name in quotes, which the server takes without them, blanks after the mods' commas, PvE
      // as 1, in Notepad's "Unicode".
      {"settings-values-as-written",
       settings(test::Utf16LeFile(u"[SessionSettings]\r\nSessionName=\"Vesper Test\"\r\n"
                                  u"[ServerSettings]\r\nActiveMods=928102, 931877\r\n"
                                  u"bServerPVE=1\r\n"))},
      // A '|' in a name, which ends the line, and an address in a name, whose "//" starts a
      // comment, where the admin surely meant the whole value.
      {"a-settings-name-cut-at-a-bar",
       settings("[SessionSettings]\r\nSessionName=[EU] Rex | PvE 2x\r\n"
                "[ServerSettings]\r\nActiveMods=928102\r\n")},
      {"a-settings-name-cut-at-a-comment",
       settings("[SessionSettings]\r\nSessionName=Rex Hunters https://discord.gg/rex\r\n"
                "[ServerSettings]\r\nActiveMods=928102 // the dinos\r\n")},
      // Both files saved as UTF-16 by a program that writes no byte-order mark.
      {"files-in-utf16-without-mark",
       [](const test::ServerTree& server) {
         server.WriteConfig(
             test::Utf16LeBytes(u"{\"token\": \"SECRETtoken-4711\", "
                                u"\"ip\": \"1.2.3.4\", \"port\": 7777}"));
         test::WriteFile(server.SettingsFile(),
                         test::Utf16LeBytes(u"[SessionSettings]\r\nSessionName=Vesper Test\r\n"
                                            u"[ServerSettings]\r\nActiveMods=928102\r\n"));
         return server.PluginDir();
       },
       std::nullopt, 1},
      // An admin's files that need no warning: config.json with a byte-order mark and members of
      // its own, the settings file as Notepad's "Unicode" with the keys as the server writes them.
      {"nothing-to-warn-of",
       [](const test::ServerTree& server) {
         server.WriteConfig(
             "\xEF\xBB\xBF{\r\n  \"_comment\": \"Vesperline, see the README\",\r\n"
             "  \"token\": \"SECRETtoken-4711\",\r\n  \"ip\": \"1.2.3.4\",\r\n  \"port\": "
             "7777\r\n}\r\n");
         test::WriteFile(server.SettingsFile(),
                         test::Utf16LeFile(
                             u"[ServerSettings]\r\nServerPassword=\r\nActiveMods=928102,931877\r\n"
                             u"bServerPVE=False\r\nRCONEnabled=True\r\n[SessionSettings]\r\n"
                             u"SessionName=\u00c4rger im Paradies\r\nPort=7777\r\n"
                             u"[/Script/Engine.GameSession]\r\nMaxPlayers=70\r\n"));
         return server.PluginDir();
       }},
      // Notepad's "ANSI": the name's umlaut and sharp s in Windows-1252.
      {"settings-file-in-ansi", settings("[SessionSettings]\r\nSessionName=Gr\xfc\xdf"
                                         "e aus K\xf6ln\r\n")},
      // A number for the token takes the next key's name; an address with a port; a port too high.
      {"config-values", config(R"({"token": 4711, "ip": "192.168.1.10:7777", "port": 99999})"),
       std::nullopt, 0},
      // A log saved under the name: over the limit, however valid its beginning.
      {"config-too-large",
       config(kFullConfig + std::string(64 * 1024 + 1 - kFullConfig.size(), ' ')), std::nullopt, 1},
      {"readme-example", config(R"({"token": "your-token", "ip": "203.0.113.7", "port": 7777})"),
       std::nullopt, 0},
      {"config-is-a-folder",
       [](const test::ServerTree& server) {
         fs::remove(server.PluginDir() / "config.json");
         fs::create_directory(server.PluginDir() / "config.json");
         return server.PluginDir();
       },
       std::nullopt, 1},
      // A config.json made empty (0 bytes) beside the release's sample; and one saved by Notepad
      // with nothing but its byte-order mark while the admin filled in the sample instead.
      {"config-json-empty",
       [](const test::ServerTree& server) {
         server.WriteConfig("");
         fs::copy_file(
             test::PathFromUtf8(VESPERLINE_SOURCE_DIR) / "packaging" / "config.example.json",
             server.PluginDir() / "config.example.json");
         return server.PluginDir();
       },
       std::nullopt, 1},
      {"a-token-filled-into-config-example-json",
       [](const test::ServerTree& server) {
         test::WriteFile(server.PluginDir() / "config.example.json", kFullConfig);
         server.WriteConfig("\xEF\xBB\xBF");
         return server.PluginDir();
       },
       std::nullopt, 1},
      // The sample copied to config.json, then the sample filled in instead of the copy.
      {"a-token-filled-into-config-example-json-not-the-copy",
       [](const test::ServerTree& server) {
         fs::copy_file(
             test::PathFromUtf8(VESPERLINE_SOURCE_DIR) / "packaging" / "config.example.json",
             server.PluginDir() / "config.json", fs::copy_options::overwrite_existing);
         test::WriteFile(server.PluginDir() / "config.example.json", kFullConfig);
         return server.PluginDir();
       },
       std::nullopt, 1},
      {"config-example-beside",
       [](const test::ServerTree& server) {
         fs::rename(server.PluginDir() / "config.json", server.PluginDir() / "config.example.json");
         return server.PluginDir();
       },
       std::nullopt, 1},
      {"utf16-big-endian",
       [](const test::ServerTree& server) {
         std::string bytes = "\xFE\xFF";
         for (const char c : kFullConfig) bytes += {'\0', c};
         server.WriteConfig(bytes);
         test::WriteFile(server.SettingsFile(), "\xFE\xFF\0[\0S\0]");
         return server.PluginDir();
       },
       std::nullopt, 1},
      // A container image's log: linked to a pipe, or to the output of whichever program opens
      // it, which for the checker is a file (its report is saved to one here) with no version.
      {"server-log-a-link-to-a-fifo",
       [](const test::ServerTree& server) {
#if !defined(_WIN32)
         const fs::path fifo = server.Root() / "log-pipe";
         EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
         fs::remove(server.Log());
         fs::create_symlink(fifo, server.Log());
#endif
         return server.PluginDir();
       },
       std::nullopt, 0, false, !kWindows},
      {"server-log-linked-to-the-output",
       [](const test::ServerTree& server) {
         fs::remove(server.Log());
         fs::create_symlink("/dev/stdout", server.Log());
         return server.PluginDir();
       },
       std::nullopt, 0, false, !kWindows},
  };
  for (const auto& check : cases) {
    if (!check.here) continue;
    SCOPED_TRACE(check.golden);
    const test::ServerTree server;
    Complete(server);
    const fs::path dir = check.breakServer(server);
#if defined(_WIN32)
    const HANDLE held = check.configHeldOpen
                            ? CreateFileW((dir / "config.json").wstring().c_str(), GENERIC_READ, 0,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
    EXPECT_EQ(held != INVALID_HANDLE_VALUE, check.configHeldOpen);
#endif
    std::vector<std::string> arguments{"--plugin-dir", test::Utf8FromPath(dir)};
    if (check.commandLine)
      arguments.insert(arguments.end(), {"--command-line", *check.commandLine});
    const test::ProgramRun text = test::RunChecker(arguments);
    EXPECT_EQ(text.exitCode, check.exitCode) << text.errors;
    const std::string root = test::Utf8FromPath(fs::absolute(server.Root()).lexically_normal());
    const std::string shown = Portable(text.output, root);
    ExpectGolden(check.golden, shown);
    arguments.insert(arguments.end(), {"--json", "--show-token"});
    const test::ProgramRun asJson = test::RunChecker(arguments);
    EXPECT_EQ(asJson.exitCode, check.exitCode) << asJson.errors;
    const json report = json::parse(asJson.output);
    std::vector<std::string> warnings;
    for (const auto& warning : report.at("warnings")) {
      warnings.push_back(Portable(check::Printable(warning.get<std::string>()), root));
    }
    EXPECT_EQ(warnings, TextWarnings(shown));
    EXPECT_EQ(report.at("verdict"), TextVerdict(shown));
    EXPECT_EQ(report.at("idle_reasons").size(), TextVerdictReasons(shown));
    for (const char* secret : kSecrets) {
      EXPECT_EQ(text.output.find(secret), std::string::npos) << secret;
      EXPECT_EQ(asJson.output.find(secret), std::string::npos) << secret;
    }
#if defined(_WIN32)
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
#endif
  }
}

// Each cause a warning or the verdict names, and the same server with the fix it gives applied:
// what named the cause is gone, and the fix brings no new warning.
TEST(CheckerTest, EachCauseIsGoneOnceItsFixIsApplied) {
  const std::string exe = "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" ";
  const std::string map = "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7777\" ";
  // The line a Linux start script gives, whose shell splits an unquoted word at its blanks.
  const auto script = [&](std::vector<std::string> words) {
    std::string arguments = std::string("ArkAscendedServer.exe") + '\0';
    for (const std::string& word : words) arguments += word + '\0';
    return JoinProcessArguments(arguments);
  };
  const std::string zeroPort = R"({"token": "SECRETtoken-4711", "ip": "1.2.3.4", "port": 0})";
  const struct {
    const char* cause;
    std::string config;
    std::string line;
    std::string fixedConfig;
    std::string fixedLine;
    const char* named;  // a part of the warning or reason that names the cause
  } cases[] = {
      {"a placeholder for the token",
       R"({"token": "${VESPERLINE_TOKEN}", "ip": "1.2.3.4", "port": 7777})", exe + map, kFullConfig,
       exe + map, "still a placeholder"},
      {"a placeholder for the port, no JSON",
       "{\"token\": \"SECRETtoken-4711\", \"ip\": \"1.2.3.4\", \"port\": ${GAME_PORT}}",
       exe + "TheIsland_WP?listen -mods=928102", kFullConfig,
       exe + "TheIsland_WP?listen -mods=928102", "placeholder, ${GAME_PORT}"},
      // A token kept inside a guide's marks may be the real one: it is named, never shown.
      {"a token inside < >", R"({"token": "<SECRETtoken-4711>", "ip": "1.2.3.4", "port": 7777})",
       exe + map, kFullConfig, exe + map, "inside < >"},
      {"an address and a port of templates",
       R"({"token": "SECRETtoken-4711", "ip": "{{ server_ip }}", "port": "%GAME_PORT%"})",
       exe + "TheIsland_WP?listen -mods=928102", kFullConfig,
       exe + "TheIsland_WP?listen -mods=928102", "still a placeholder"},
      {"a comma after the last member", kFullConfig.substr(0, kFullConfig.size() - 2) + ",}",
       exe + map, kFullConfig, exe + map, "not valid JSON"},
      {"no port anywhere", zeroPort, exe + "TheIsland_WP?listen -mods=928102", kFullConfig,
       exe + "TheIsland_WP?listen -mods=928102", "game's default port, 7777"},
      {"a CR at the line's end", kFullConfig, exe + map + "-mods=928102\r", kFullConfig,
       exe + map + "-mods=928102", "carriage return"},
      {"a line continued with a CR", kFullConfig, exe + map + "-mods=928102 \r", kFullConfig,
       exe + map + "-mods=928102", "carriage return"},
      {"an en dash", kFullConfig, exe + map + "\u2013WinLiveMaxPlayers=50 -mods=928102",
       kFullConfig, exe + map + "-WinLiveMaxPlayers=50 -mods=928102", "hyphen-minus"},
      {"a minus sign in a first argument cut at a blank", kFullConfig,
       exe + "TheIsland_WP?listen?Port=7777 \u2212mods=928102", kFullConfig,
       exe + "TheIsland_WP?listen?Port=7777 -mods=928102", "hyphen-minus"},
      {"an en dash inside a first argument quoted whole", kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex \u2013NoBattlEye\" -mods=928102", kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex\" -NoBattlEye -mods=928102", "NoBattlEye"},
      {"?WinLiveMaxPlayers=", kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex?WinLiveMaxPlayers=50\" -mods=928102",
       kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex\" -WinLiveMaxPlayers=50 -mods=928102",
       "is not the option"},
      {"a blank after a comma", kFullConfig, exe + map + "\"-mods=928102, 931877\"", kFullConfig,
       exe + map + "-mods=928102,931877", "ids alone"},
      {"a comma after the last id", kFullConfig, exe + map + "-mods=928102,931877,", kFullConfig,
       exe + map + "-mods=928102,931877", "ids alone"},
      {"a dash key glued to the option before it", kFullConfig,
       exe + map + "-NoBattlEye-WinLiveMaxPlayers=50 -mods=928102", kFullConfig,
       exe + map + "-NoBattlEye -WinLiveMaxPlayers=50 -mods=928102", "no blank before"},
      {"a dash password left empty before another option", kFullConfig,
       exe + map + "-ServerAdminPassword= -port=7777 -mods=928102", kFullConfig,
       exe + map + "-ServerAdminPassword=Hunt3r -port=7777 -mods=928102", "no value"},
      {"?ServerPVE with no value", kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex?ServerPVE\" -mods=928102", kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex?ServerPVE=True\" -mods=928102", "no value"},
      // The blank is in the password, so the script's fix quotes the password's value.
      {"a password with a blank, cut at it, fixed in a script", kFullConfig,
       script({"TheIsland_WP?listen?SessionName=Rex?ServerPassword=Join", "2", "Play?Port=7777",
               "-mods=928102"}),
       kFullConfig,
       script({"TheIsland_WP?listen?SessionName=Rex?ServerPassword=\"Join", "2", "Play\"?Port=7777",
               "-mods=928102"}),
       "ServerPassword=\\\"...\\\""},
      {"the same, fixed by quoting the whole argument", kFullConfig,
       exe +
           "TheIsland_WP?listen?SessionName=Rex?ServerPassword=Join 2 Play?Port=7777 -mods=928102",
       kFullConfig,
       exe + "\"TheIsland_WP?listen?SessionName=Rex?ServerPassword=Join 2 Play?Port=7777\" "
             "-mods=928102",
       "ends at the blank"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.cause);
    const test::ServerTree server;
    Complete(server);
    // The warnings and the verdict's reasons, as --json gives them.
    const auto said = [&](const std::string& config, const std::string& line) {
      server.WriteConfig(config);
      const test::ProgramRun run =
          test::RunChecker({"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                            "--command-line", line, "--json"});
      const json report = json::parse(run.output);
      std::vector<std::string> texts;
      for (const char* key : {"warnings", "idle_reasons"}) {
        for (const auto& text : report.at(key)) texts.push_back(text.get<std::string>());
      }
      return texts;
    };
    const auto names = [&](const std::vector<std::string>& texts) {
      return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
        return text.find(row.named) != std::string::npos;
      });
    };
    const std::vector<std::string> before = said(row.config, row.line);
    const std::vector<std::string> after = said(row.fixedConfig, row.fixedLine);
    EXPECT_TRUE(names(before)) << json(before).dump(2);
    EXPECT_FALSE(names(after)) << json(after).dump(2);
    EXPECT_LT(after.size(), before.size()) << json(after).dump(2);
    for (const std::string& text : before) EXPECT_EQ(text.find(kToken), std::string::npos) << text;
  }
}

#if !defined(_WIN32)
// A path that exists but is no file the plugin can read is told as what it is.
TEST(CheckerGoldenTest, AFifoOrAnUnreadableFileIsToldAsWhatItIs) {
  const test::ServerTree server;
  Complete(server);
  fs::remove(server.Log());
  ASSERT_EQ(mkfifo(server.Log().c_str(), 0600), 0);
  // Root reads every file whatever its mode, so the refused read shows only for other users.
  const bool refuses = geteuid() != 0;
  if (refuses) fs::permissions(server.SettingsFile(), fs::perms::none);
  const json report = json::parse(
      test::RunChecker({"--plugin-dir", test::Utf8FromPath(server.PluginDir()), "--json"}).output);
  EXPECT_EQ(report.at("files").at("log").at("state"),
            "a pipe or FIFO, not a file: the plugin never reads the game version from it");
  if (refuses) {
    EXPECT_EQ(report.at("files").at("settings").at("state"), "cannot be read: Permission denied");
  }
  EXPECT_EQ(report.at("warnings").size(), refuses ? 2u : 1u) << report.at("warnings");
}
#endif

// What an address in "ip" is, for its warning.
TEST(AddressTest, EachKindOfAddressIsToldApart) {
  using check::AddressKind;
  const std::pair<AddressKind, std::vector<const char*>> kinds[] = {
      {AddressKind::kPublic, {"1.2.3.4", "2606:4700::1111", "172.32.0.1"}},
      {AddressKind::kWithPort, {"203.0.113.7:7777", "[2606:4700::1111]:7777"}},
      {AddressKind::kPrivate,
       {"10.1.2.3", "172.31.255.255", "192.168.0.1", "100.64.0.1", "fd12:3456::1"}},
      {AddressKind::kLoopback, {"127.0.0.1", "::1", "::ffff:127.0.0.1"}},
      {AddressKind::kLinkLocal, {"169.254.1.1", "fe80::1"}},
      {AddressKind::kUnspecified, {"0.0.0.0", "::"}},
      {AddressKind::kExample, {"198.51.100.23", "2001:db8::7"}},
      {AddressKind::kNotAnAddress,
       {"myserver.example.com", " 1.2.3.4", "1.2.3.256", "01.2.3.4", "1.2.3", "1:2:3:4:5:6:7:8:9",
        "1::2::3", "1.2.3.4:"}},
  };
  for (const auto& [kind, addresses] : kinds) {
    for (const char* address : addresses) {
      EXPECT_EQ(check::ClassifyAddress(address), kind) << address;
    }
  }
}

// Characters a token or an address carries along unseen, or that end it where it should go on,
// are named with their place in characters; a visible character, a blank inside and a byte that
// is no UTF-8 are not.
TEST(CheckerTest, StrayCharactersAreNamedWithTheirPlace) {
  const std::pair<const char*, const char*> values[] = {
      {"SECRET\u200Btoken", "holds a zero-width space (U+200B) at character 7"},
      {"\u00e4\U0001F996\u2066x", "holds an invisible format character (U+2066) at character 3"},
      {"x\U000E0041y", "holds an invisible format character (U+E0041) at character 2"},
      {"\uFEFFtoken\r\n", "begins with a byte-order mark (U+FEFF) and ends with a line break"},
      {" 1.2.3.4\u00A0 ",
       "begins with a blank and ends with a no-break space (U+00A0) and a blank"},
      {"\u3000", "holds nothing but a space character (U+3000)"},
      {"a\u00ADb\u200Cc\x7F"
       "d\te\u2028f",
       "holds a soft hyphen (U+00AD) at character 2, a zero-width non-joiner (U+200C) at character "
       "4, a control character (U+007F) at character 6 and 2 more"},
      {"\tab\u202Fc ",
       "begins with a tab, holds a narrow no-break space (U+202F) at character 4 and ends with a "
       "blank"},
      {"my token \xFF\xC2", ""},
      {"\u00e4\u00f6\u00fc", ""},
  };
  for (const auto& [value, named] : values) {
    EXPECT_EQ(check::StrayCharacters(value), named) << value;
  }
}

// A token is shown by its first two and last two characters only from eight characters on; a
// shorter one would give away half of itself or more. Characters, not bytes, are counted and kept.
TEST(CheckerTest, AShortTokenIsMaskedWhole) {
  const std::pair<const char*, const char*> tokens[] = {
      {"abcdefg", "*******"},
      {"abcdefgh", "ab****gh"},
      {"\u00c4\u00d6cdef\u00dc\U0001F996", "\u00c4\u00d6****\u00dc\U0001F996"},
      {"\u00c4bcdef\U0001F996", "*******"},
  };
  for (const auto& [token, shown] : tokens) EXPECT_EQ(check::MaskToken(token), shown) << token;
}

// The server's log, fed whole or in pieces of any size: the last line holding the marker counts,
// from right behind the marker's first occurrence on it to the line's end, CR LF or not; a line
// beyond the limit is kept cut, and counts as cut.
TEST(CheckerTest, TheLastCommandLineOfTheLogIsFoundInAnySplit) {
  const std::string longLine(check::kMaxLogCommandLineBytes + 10, 'x');
  const struct {
    std::string log;
    std::optional<std::string> line;
    bool cut = false;
  } cases[] = {
      {"LogInit: ARK Version: 74.24\r\n", std::nullopt},
      {"Commandline:  TheCenter_WP?listen\r\nlater\r\nCommandline:  TheIsland_WP?listen -log\r\n",
       " TheIsland_WP?listen -log"},
      {"[2024.01.05-10.00.00:001][  0]Commandline:  A?listen Commandline: B\n",
       " A?listen Commandline: B"},
      {"Commandline: \r\nCommandline:x\r\n", ""},
      {"CommandlineCommandline:  M?x", " M?x"},
      {"Commandline: " + longLine + "\r\n", longLine.substr(0, check::kMaxLogCommandLineBytes),
       true},
      {"Commandline: " + longLine.substr(0, check::kMaxLogCommandLineBytes) + "\r\n",
       longLine.substr(0, check::kMaxLogCommandLineBytes)},
  };
  for (const auto& test : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}, test.log.size()}) {
      check::LogCommandLineScanner scanner;
      for (std::size_t at = 0; at < test.log.size(); at += piece) {
        scanner.Feed(std::string_view(test.log).substr(at, piece));
      }
      scanner.Finish();
      SCOPED_TRACE(test.log.substr(0, 60) + ", in pieces of " + std::to_string(piece));
      ASSERT_EQ(scanner.Last().has_value(), test.line.has_value());
      if (!test.line) continue;
      EXPECT_EQ(scanner.Last()->Line, *test.line);
      EXPECT_EQ(scanner.Last()->Cut, test.cut);
    }
  }
  // Read from a file as the plugin reads the log: Notepad's "Unicode" too.
  const test::ServerTree server;
  test::WriteFile(server.Log(), test::Utf16LeFile(u"Commandline:  \u00c4rger?listen\r\n"));
  const std::optional<check::LogCommandLine> read =
      check::ReadLogCommandLine(test::Utf8FromPath(server.Log()));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Line, " \u00c4rger?listen");
}

// The log's line is read as the engine's line of a command line made for it: whatever quotes,
// backslashes, tabs and blanks it holds, that command line's engine line is the log's, with the
// blank in front that the engine writes. A plain line keeps the arguments Windows splits from it.
TEST(CheckerTest, ACommandLineIsMadeForAnyEngineLine) {
  EXPECT_EQ(check::CommandLineForEngineLine(" \"TheIsland_WP?SessionName=A B\" -mods=\"1, 2\""),
            "ArkAscendedServer.exe \"TheIsland_WP?SessionName=A B\" -mods=\"1, 2\"");
  std::mt19937 random(20260131);
  const char* const fragments[] = {" ", "  ", "\"", "\\", "\t", "a", "?Port=7", "-mods=", "\u00c4"};
  for (int round = 0; round < 5000; ++round) {
    std::string line;
    for (int i = static_cast<int>(random() % 12); i > 0; --i) {
      line += fragments[random() % std::size(fragments)];
    }
    const std::string expected = line.empty() || line.front() == ' ' ? line : " " + line;
    ASSERT_EQ(ReadLaunchLine(check::CommandLineForEngineLine(line)).EngineLine, expected)
        << "[" << line << "]";
  }
}

// The line the server's log states is compared with the checker's reading of the running
// server's command line: the same line, an older one (the log of an earlier start) that is warned
// of with both lines, and another server's when several servers of the install run.
TEST(CheckerGoldenTest, TheServersLogLineIsComparedWithTheRunningServers) {
  const std::string exe = "\"C:\\ARK\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" ";
  const std::string running = exe +
                              "\"TheIsland_WP?listen?SessionName=Rex Hunters?Port=7777"
                              "?ServerAdminPassword=S3cret\" -mods=928102 -NoBattlEye";
  const std::string older =
      exe + "TheIsland_WP?listen?SessionName=Rex?Port=7777?ServerAdminPassword=S3cret -mods=928102";
  const struct {
    std::string logged;
    std::vector<std::uint32_t> found;
    bool differs;
    const char* golden;
  } cases[] = {
      {ReadLaunchLine(running).EngineLine, {4242}, false, nullptr},
      {ReadLaunchLine(older).EngineLine, {4242}, true, "the-servers-log-line-of-an-earlier-start"},
      {ReadLaunchLine(older).EngineLine, {4242, 4343}, true, nullptr},
  };
  for (const auto& test : cases) {
    const test::ServerTree server;
    Complete(server);
    test::WriteFile(server.Log(),
                    "Commandline: " + test.logged + "\r\nLogInit: ARK Version: 74.24\r\n");
    check::CheckInputs inputs;
    inputs.PluginDir = server.PluginDirText();
    inputs.CommandLine = running;
    inputs.Origin.Source = check::CommandLineSource::RunningServer;
    inputs.Origin.Id = 4242;
    inputs.Origin.Found = test.found;
    const check::CheckReport report = check::RunCheck(inputs);
    const std::string root = test::Utf8FromPath(fs::absolute(server.Root()).lexically_normal());
    const std::string text = Portable(check::HumanReport(report, false), root);
    const json asJson = json::parse(check::JsonReport(report, true));
    const json& logged = asJson.at("server_log_command_line");
    EXPECT_EQ(logged.at("differs"), test.differs);
    EXPECT_EQ(logged.at("taken"), false);
    std::vector<std::string> warnings;
    for (const auto& warning : asJson.at("warnings")) {
      warnings.push_back(Portable(check::Printable(warning.get<std::string>()), root));
    }
    EXPECT_EQ(warnings, TextWarnings(text));
    const bool warned = text.find("The server's log states") != std::string::npos;
    EXPECT_EQ(warned, test.differs && test.found.size() == 1) << text;
    EXPECT_EQ(text.find("S3cret"), std::string::npos);
    EXPECT_EQ(asJson.dump().find("S3cret"), std::string::npos);
    if (test.golden) ExpectGolden(test.golden, text);
  }
}

// The line --raw prints is the document of the --json report, byte for byte, its token masked.
TEST(CheckerTest, RawPrintsTheDocumentAloneOnOneLine) {
  const test::ServerTree server;
  server.WriteConfig(kFullConfig);
  std::vector<std::string> arguments{"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                                     "--command-line", "S.exe TheIsland_WP?SessionName=Raw",
                                     "--json"};
  const std::string report = test::RunChecker(arguments).output;
  const std::size_t at = report.find(",\"document\":{");
  ASSERT_NE(at, std::string::npos) << report;
  const std::string document = report.substr(at + 12, report.rfind('}') - at - 12);
  EXPECT_NE(document.find(kMaskedToken), std::string::npos) << document;
  arguments.back() = "--raw";
  const test::ProgramRun raw = test::RunChecker(arguments);
  EXPECT_EQ(raw.exitCode, 0);
  EXPECT_EQ(UnixLines(raw.output), document + "\n");

  // Without the plugin file, and then idle too: nothing at all, and the exit status says so.
  for (const fs::path& gone :
       {PluginFile(server.PluginDir()), server.PluginDir() / "config.json"}) {
    fs::remove(gone);
    const test::ProgramRun idle = test::RunChecker(arguments);
    EXPECT_EQ(idle.exitCode, 1) << gone;
    EXPECT_EQ(idle.output, "") << gone;
  }
}

// The stand-in server installed in the Win64 folder of a tree, three levels above its plugin
// folder, as the server's executable or, named otherwise, as a helper program beside it.
fs::path InstallServer(const test::ServerTree& tree,
                       const std::string& program = "ArkAscendedServer.exe") {
  const fs::path executable =
      tree.PluginDir().parent_path().parent_path().parent_path() / test::PathFromUtf8(program);
  fs::copy_file(VESPERLINE_STANDIN_PROGRAM, executable);
  return executable;
}

// The checker's --json report for a plugin folder, with more arguments.
json CheckJson(const fs::path& pluginDir, const std::vector<std::string>& more = {}) {
  std::vector<std::string> arguments{"--plugin-dir", test::Utf8FromPath(pluginDir), "--json"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  const test::ProgramRun run = test::RunChecker(arguments);
  EXPECT_EQ(run.errors, "");
  // A checker that wrote no report is told with its exit status, which says whether it ran at
  // all, rather than as a parse error alone.
  const json report = json::parse(run.output, nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << "exit status " << run.exitCode << ", output:\n"
                                      << run.output;
  return report.is_discarded() ? json::object() : report;
}

json Source(const json& report) {
  return report.at("command_line_source");
}

// Without a command line given, the checker reads the one of the running server of its install,
// exactly as the server was started, quotes, spaces and characters beyond ASCII and the BMP
// included: the stand-in server runs from the Win64 folder of a server tree whose own folder name
// holds a space and an umlaut. Neither a helper program beside it nor a server of another install
// on the same machine counts.
TEST(CheckerTest, ReadsTheCommandLineOfTheRunningServer) {
  const test::ServerTree server("ARK Server \u00c4rger");
  const test::ServerTree other;
  Complete(server);
  const fs::path executable = InstallServer(server);
  const std::string dir = test::Utf8FromPath(server.PluginDir());

  json report = CheckJson(server.PluginDir());
  EXPECT_EQ(Source(report).at("source"), "no server running");
  EXPECT_TRUE(report.at("command_line").is_null());

  // A server started from a list of arguments: a '|', an en dash and a character beyond the BMP
  // in the name, and inner quotes in an option behind it, which the command line writes \".
  const std::vector<std::string> launch{
      "TheIsland_WP?listen?SessionName=Vesper Test | PvE \u00c4rger\u2013\U0001F996?Port=7777",
      "-ClusterDirOverride=\"C:\\ARK Cluster\"", "-WinLiveMaxPlayers=50", "-NoBattlEye"};
  const std::string commandLine =
      "\"" + test::Utf8FromPath(executable) + "\" " +
      "\"TheIsland_WP?listen?SessionName=Vesper Test | PvE \u00c4rger\u2013\U0001F996?Port=7777\" "
      "\"-ClusterDirOverride=\\\"C:\\ARK Cluster\\\"\" -WinLiveMaxPlayers=50 -NoBattlEye";
  const test::RunningProgram otherInstall(InstallServer(other), {"TheCenter_WP?Port=7779"});
  const test::RunningProgram helper(InstallServer(server, "ServerManagerAgent.exe"), {"-watch"});
  const test::RunningProgram running(executable, launch);
  report = CheckJson(server.PluginDir());
  EXPECT_EQ(report.at("command_line"), commandLine);
  EXPECT_EQ(Source(report).at("source"), "running server");
  EXPECT_EQ(Source(report).at("process_id"), running.Id());
  EXPECT_EQ(Source(report).at("servers_found"), json::array({running.Id()}));
  // Read as the plugin in that server reads it.
  EXPECT_EQ(report.at("facts").at("session_name").at("value"),
            "Vesper Test | PvE \u00c4rger\u2013\U0001F996");
  EXPECT_EQ(report.at("facts").at("map").at("value"), "TheIsland_WP");
  const std::string text = UnixLines(test::RunChecker({"--plugin-dir", dir}).output);
  EXPECT_NE(text.find("Command line   " + commandLine +
                      "\n               read from the running server (process " +
                      std::to_string(running.Id()) + ").\n"),
            std::string::npos)
      << text;
  for (const std::uint32_t notOurs : {otherInstall.Id(), helper.Id()}) {
    report = CheckJson(server.PluginDir(), {"--server-pid", std::to_string(notOurs)});
    EXPECT_TRUE(report.at("command_line").is_null());
    EXPECT_EQ(Source(report).at("source"), "not a server of this install");
  }
  report = CheckJson(server.PluginDir(), {"--command-line", "S.exe TheIsland_WP"});
  EXPECT_EQ(Source(report).at("source"), "--command-line");
  EXPECT_EQ(Source(report).at("note"), "given with --command-line");
}

// A running server's command line, read from the process, gives the line the engine rebuilt
// from it, which its log states: quotes and blanks inside an option included. A server of this
// install that the checker may not look at (another account's, on Linux) has its log's line read
// in place of its command line.
TEST(CheckerTest, TheServersLogLineAgreesWithTheRunningServersOrStandsInForIt) {
  const test::ServerTree server("ARK Server");
  Complete(server);
  const std::vector<std::string> launch{"TheIsland_WP?listen?SessionName=Vesper Test?Port=7777",
                                        "-ClusterDirOverride=\"C:\\ARK Cluster\"", "-NoBattlEye"};
  std::vector<CommandLineArgument> arguments{{"ArkAscendedServer.exe"}};
  for (const std::string& argument : launch) arguments.push_back({argument});
  test::WriteFile(server.Log(), "Commandline: " + EngineCommandLine(arguments) +
                                    "\r\nLogInit: ARK Version: 74.24\r\n");
  const fs::path executable = InstallServer(server);
  {
    const test::RunningProgram running(executable, launch);
    const json report = CheckJson(server.PluginDir());
    EXPECT_EQ(Source(report).at("source"), "running server");
    EXPECT_EQ(report.at("server_log_command_line").at("differs"), false) << report.dump();
    EXPECT_EQ(report.at("server_log_command_line").at("taken"), false);
  }
#if !defined(_WIN32)
  const test::RunningProgram hidden(executable, {"TheCenter_WP?listen?Port=7779"},
                                    test::Account::Other);
  const json report = CheckJson(server.PluginDir());
  EXPECT_EQ(Source(report).at("source"), "access refused");
  EXPECT_EQ(report.at("server_log_command_line").at("taken"), true);
  EXPECT_EQ(report.at("facts").at("session_name").at("value"), "Vesper Test");
#endif
}

// The report with the ids of the servers, in their order, written as <first server>, <second
// server>..., wherever a process is named, so that one golden file serves every run.
std::string WithoutIds(std::string text, const std::vector<std::uint32_t>& ids) {
  const char* const names[] = {"<first server>", "<second server>"};
  for (std::size_t i = 0; i < ids.size() && i < std::size(names); ++i) {
    const std::string id = std::to_string(ids[i]);
    for (const char* before : {"rocess ", "rocesses ", ", "}) {
      for (std::size_t at; (at = text.find(before + id)) != std::string::npos;) {
        text.replace(at + std::strlen(before), id.size(), names[i]);
      }
    }
  }
  return text;
}

// Several servers of one install are each reported in turn, with a verdict each; the exit status
// and the --json report's verdict are the worst. Two that would post the same token, address and
// port, which the service takes for one server, are told so; --server-pid still picks one.
TEST(CheckerTest, ReportsEachServerOfTheInstallInTurn) {
  const struct {
    const char* what;
    const char* port;  // config.json's
    const char* secondLaunch;
    int exitCode;
    bool sameIdentity;
  } cases[] = {
      {"both on the port of config.json", "7777", "TheCenter_WP?listen?SessionName=Center", 0,
       true},
      {"each on its own port", "0", "TheCenter_WP?listen?SessionName=Center?Port=7779", 0, false},
      {"one without a port", "0", "TheCenter_WP?listen?SessionName=Center", 1, false},
  };
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    // A folder name with a space, so that every system writes the executable in quotes.
    const test::ServerTree server("ARK Servers");
    Complete(server);
    server.WriteConfig(std::string("{\"token\": \"") + kToken +
                       "\", \"ip\": \"1.2.3.4\", \"port\": " + check.port + "}");
    const fs::path executable = InstallServer(server);
    // The report lists the servers by process id, and the golden file has the one started first
    // first. Wine hands out freed ids again, in the order they were freed, so a later process
    // may get a lower one: the pair is then started anew.
    std::unique_ptr<test::RunningProgram> started[2];
    for (int attempt = 0; attempt < 20; ++attempt) {
      started[0].reset();
      started[1].reset();
      started[0] = std::make_unique<test::RunningProgram>(
          executable, std::vector<std::string>{"TheIsland_WP?listen?SessionName=Island?Port=7777"});
      started[1] = std::make_unique<test::RunningProgram>(
          executable, std::vector<std::string>{check.secondLaunch});
      if (started[0]->Id() < started[1]->Id()) break;
    }
    const test::RunningProgram& first = *started[0];
    const test::RunningProgram& second = *started[1];
    ASSERT_LT(first.Id(), second.Id());
    const std::vector<std::uint32_t> ids{first.Id(), second.Id()};
    const std::string dir = test::Utf8FromPath(server.PluginDir());

    const test::ProgramRun asJson = test::RunChecker({"--plugin-dir", dir, "--json"});
    EXPECT_EQ(asJson.exitCode, check.exitCode);
    const json report = json::parse(asJson.output);
    EXPECT_EQ(report.at("verdict"), check.exitCode == 0 ? "report" : "idle");
    EXPECT_EQ(report.at("servers_found"), json::array({ids[0], ids[1]}));
    ASSERT_EQ(report.at("servers").size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const json& one = report.at("servers")[i];
      const std::uint32_t id = ids[i];
      EXPECT_EQ(Source(one).at("process_id"), id);
      EXPECT_EQ(one.at("facts").at("session_name").at("value"),
                id == first.Id() ? "Island" : "Center");
      const std::string other = std::to_string(ids[1 - i]);
      const bool warned =
          one.at("warnings").dump().find("Process " + other + ", another server of this install") !=
          std::string::npos;
      EXPECT_EQ(warned, check.sameIdentity) << one.at("warnings");
    }
    const test::ProgramRun text = test::RunChecker({"--plugin-dir", dir});
    EXPECT_EQ(text.exitCode, check.exitCode);
    if (check.sameIdentity) {
      const std::string root = test::Utf8FromPath(fs::absolute(server.Root()).lexically_normal());
      ExpectGolden("two-servers-of-one-install", WithoutIds(Portable(text.output, root), ids));
    }
    const test::ProgramRun raw = test::RunChecker({"--plugin-dir", dir, "--raw"});
    EXPECT_EQ(std::count(raw.output.begin(), raw.output.end(), '\n'), 2 - check.exitCode);

    const json picked =
        CheckJson(server.PluginDir(), {"--server-pid", std::to_string(second.Id())});
    EXPECT_EQ(Source(picked).at("process_id"), second.Id());
    EXPECT_EQ(picked.at("facts").at("session_name").at("value"), "Center");
  }
}

// A second path to the same folder: on Linux a linked folder, on Windows another drive letter
// for the same drive (SUBST, a mapped drive; the Wine stage makes Y: one for C:). The server
// started through it, or the plugin folder named through it, is still this install's.
TEST(CheckerTest, FindsTheServerThroughAnotherPathToItsFolder) {
  const test::ServerTree server;
  Complete(server);
  const fs::path executable = InstallServer(server);
  const test::TempDir links;
#if defined(_WIN32)
  // A drive letter under which a file made for the purpose shows too.
  const fs::path root = fs::absolute(server.Root());
  test::WriteFile(root / "here.txt", "");
  fs::path alias;
  for (wchar_t letter = L'A'; letter <= L'Z' && alias.empty(); ++letter) {
    const fs::path drive = std::wstring{letter, L':', L'\\'};
    std::error_code error;
    if (drive.root_name() != root.root_name() && (GetLogicalDrives() >> (letter - L'A') & 1) != 0 &&
        fs::exists(drive / root.relative_path() / "here.txt", error)) {
      alias = drive / root.relative_path();
    }
  }
  if (alias.empty()) GTEST_SKIP() << "no second drive letter for " << root.root_name().string();
#else
  const fs::path alias = links.Path() / "ark";
  fs::create_directory_symlink(server.Root(), alias);
#endif
  const fs::path relative = fs::relative(executable, server.Root());
  const fs::path pluginRelative = fs::relative(server.PluginDir(), server.Root());
  const struct {
    fs::path started;
    fs::path pluginDir;
  } cases[] = {{alias / relative, server.PluginDir()}, {executable, alias / pluginRelative}};
  for (const auto& check : cases) {
    SCOPED_TRACE(test::Utf8FromPath(check.started) + " / " + test::Utf8FromPath(check.pluginDir));
    const test::RunningProgram running(check.started, {"TheIsland_WP?listen?Port=7777"});
    const json report = CheckJson(check.pluginDir);
    EXPECT_EQ(Source(report).at("source"), "running server");
    EXPECT_EQ(Source(report).at("process_id"), running.Id());
  }
}

#if !defined(_WIN32)
// A process that bears the server's name but hides where its executable lies, as the server of
// another install running under another account does, is named apart and never taken: alone, it
// leaves the checker without a command line and with the advice to look as administrator; beside
// a server the checker sees, that one is taken.
TEST(CheckerTest, AProcessItMayNotLookAtIsNamedApartAndNotTaken) {
  const test::ServerTree server;
  const test::ServerTree other;
  Complete(server);
  const test::RunningProgram hidden(InstallServer(other), {"TheCenter_WP?Port=7779"},
                                    test::Account::Other);
  json report = CheckJson(server.PluginDir());
  EXPECT_TRUE(report.at("command_line").is_null());
  EXPECT_EQ(Source(report).at("source"), "access refused");
  EXPECT_TRUE(Source(report).at("process_id").is_null());
  EXPECT_EQ(Source(report).at("refused_processes"), json::array({hidden.Id()}));
  EXPECT_NE(Source(report).at("note").get<std::string>().find("Run the checker with sudo"),
            std::string::npos);

  const test::RunningProgram running(InstallServer(server), {"TheIsland_WP?listen?Port=7777"});
  report = CheckJson(server.PluginDir());
  EXPECT_EQ(Source(report).at("source"), "running server");
  EXPECT_EQ(Source(report).at("process_id"), running.Id());
  EXPECT_EQ(Source(report).at("servers_found"), json::array({running.Id()}));
  EXPECT_EQ(Source(report).at("refused_processes"), json::array({hidden.Id()}));
}
#endif

// Started by its full path from another folder, the checker takes the folder that holds it, where
// the release ZIP puts it, for the plugin folder. In a plugin folder one level too deep (the ZIP
// unpacked into a folder named after it) it looks for the server where the plugin folder belongs
// too, and says so beside the warning about the depth.
TEST(CheckerTest, TakesItsOwnFolderAndLooksWhereAMisplacedOneBelongs) {
  const test::ServerTree server;
  Complete(server);
  const test::RunningProgram running(InstallServer(server), {"TheIsland_WP?listen?Port=7777"});
  const fs::path deeper =
      server.PluginDir().parent_path() / "Vesperline-0.1.0-win64" / "Vesperline";
  fs::create_directories(deeper);
  fs::copy_file(server.PluginDir() / "config.json", deeper / "config.json");
  for (const fs::path& folder : {server.PluginDir(), deeper}) {
    SCOPED_TRACE(test::Utf8FromPath(folder));
    const fs::path checker = folder / fs::path(VESPERLINE_CHECK_PROGRAM).filename();
    fs::copy_file(VESPERLINE_CHECK_PROGRAM, checker);
    const test::ProgramRun run = test::RunChecker({"--json"}, test::Utf8FromPath(checker));
    const json report = json::parse(run.output);
    // The folder as the plugin keeps it, with a separator at its end.
    EXPECT_EQ(test::PathFromUtf8(report.at("plugin_dir")).parent_path(), folder);
    EXPECT_EQ(report.at("plugin_dir_source"), "checker's folder");
    EXPECT_EQ(Source(report).at("process_id"), running.Id());
    const std::string warnings = report.at("warnings").dump();
    const std::size_t depth = warnings.find("the plugin folder is at the wrong depth");
    const std::size_t beside = warnings.find("where the plugin folder belongs, and found it there");
    EXPECT_EQ(depth != std::string::npos, folder == deeper) << warnings;
    EXPECT_EQ(beside != std::string::npos, folder == deeper) << warnings;
    if (folder == deeper) {
      EXPECT_LT(depth, beside);
    }
  }
}

// A command-line file as admins save one for a stopped server: PowerShell writes a line per
// server, wmic a heading above them (in UTF-16, each line padded with blanks to the longest) or,
// with /value, "CommandLine=" before each. Of several lines the checker takes the one whose
// executable is this install's server and says which; when several are, it names them instead.
TEST(CheckerTest, TakesThisInstallsLineFromACommandLineFile) {
  const test::ServerTree server;
  const test::ServerTree other;
  Complete(server);
  const auto lineOf = [](const test::ServerTree& tree, const std::string& launch) {
    const fs::path win64 = tree.PluginDir().parent_path().parent_path().parent_path();
    return "\"" + test::Utf8FromPath(win64 / "ArkAscendedServer.exe") + "\" " + launch;
  };
  const std::string ours = lineOf(server, "TheIsland_WP?listen?Port=7777");
  const std::string theirs = lineOf(other, "TheCenter_WP?listen?Port=7779 -NoBattlEye");
  // wmic's file; the temporary folders' paths are ASCII, which widens unit by unit.
  const std::string wmic = "CommandLine" + std::string(theirs.size() - 11, ' ') + "\r\r\n" +
                           theirs + "\r\r\n" + ours +
                           std::string(theirs.size() - ours.size(), ' ') + "\r\r\n\r\r\n";
  const struct {
    const char* what;
    std::string bytes;
    std::string says;
    int exitCode = 0;
  } cases[] = {
      {"PowerShell, a line per server", "\xEF\xBB\xBF" + theirs + "\r\n" + ours + "\r\n",
       "line 2, of its 2 command lines the one whose executable is ArkAscendedServer.exe in this "
       "install's folder"},
      {"wmic", test::Utf16LeFile(std::u16string(wmic.begin(), wmic.end())), "line 3, of its 2"},
      {"wmic /value", "\r\r\n\r\r\nCommandLine=" + ours + "\r\r\n\r\r\nCommandLine=" + theirs,
       "line 3, of its 2"},
      {"two servers of this install", ours + "\n" + lineOf(server, "TheCenter_WP") + "\n",
       "2 of them start with ArkAscendedServer.exe in this install's folder", 2},
  };
  const fs::path file = server.Root() / "cmdline.txt";
  for (const auto& check : cases) {
    SCOPED_TRACE(check.what);
    test::WriteFile(file, check.bytes);
    const test::ProgramRun run =
        test::RunChecker({"--plugin-dir", test::Utf8FromPath(server.PluginDir()),
                          "--command-line-file", test::Utf8FromPath(file), "--json"});
    EXPECT_EQ(run.exitCode, check.exitCode) << run.errors;
    if (check.exitCode == 2) {
      EXPECT_NE(run.errors.find(check.says), std::string::npos) << run.errors;
      continue;
    }
    const json report = json::parse(run.output);
    EXPECT_EQ(report.at("command_line"), ours);
    EXPECT_NE(Source(report).at("note").get<std::string>().find(check.says), std::string::npos)
        << Source(report).at("note");
  }
}

// The choice among the servers found, for what the system may answer: refusals above all, which a
// test cannot provoke on every system.
TEST(CheckerTest, EveryServerSeenIsTakenAndNoProcessRefused) {
  using check::CommandLineSource;
  const check::CommandLineRead readable{"\"C:\\ARK\\ArkAscendedServer.exe\" TheIsland_WP", false,
                                        ""};
  const check::CommandLineRead refused{std::nullopt, true, "Access is denied"};
  const check::CommandLineRead ended{std::nullopt, false, "the process has ended"};
  const auto process = [](std::uint32_t id, std::size_t folder, const char* refused) {
    check::ServerProcess one;
    one.Id = id;
    one.Folder = folder;
    one.Refused = refused;
    return one;
  };
  const check::ServerProcess server = process(4242, 0, "");
  const check::ServerProcess second = process(4343, 0, "");
  const check::ServerProcess hidden = process(999, 0, "Access is denied");
  const struct {
    const char* what;
    std::vector<check::ServerProcess> found;
    std::optional<std::uint32_t> picked;
    check::CommandLineRead read;
    std::vector<CommandLineSource> sources;
    const char* says;
    // The plugin folder lies one level too deep, so that its server folder is another than the
    // one where it belongs.
    bool misplaced = false;
  } cases[] = {
      {"one server",
       {server},
       std::nullopt,
       readable,
       {CommandLineSource::RunningServer},
       "read from the running server (process 4242)."},
      {"none",
       {},
       std::nullopt,
       readable,
       {CommandLineSource::NotRunning},
       "no server of this install is running (no ArkAscendedServer.exe runs from "
       "C:\\ARK\\ShooterGame\\Binaries\\Win64)"},
      {"two",
       {server, second},
       std::nullopt,
       readable,
       {CommandLineSource::RunningServer, CommandLineSource::RunningServer},
       "one of the 2 servers of this install (processes 4242, 4343)"},
      {"two, one picked",
       {server, second},
       4343u,
       readable,
       {CommandLineSource::RunningServer},
       "(process 4343), picked with --server-pid among the 2 servers"},
      {"one picked that is not a server",
       {server},
       99u,
       readable,
       {CommandLineSource::NotThisInstall},
       "The servers of this install: process 4242"},
      {"another account's process alone",
       {hidden},
       std::nullopt,
       readable,
       {CommandLineSource::Refused},
       "no server of this install was seen running, so every launch argument counts as absent; "
       "the process 999 bears the server's name"},
      {"another account's process beside a server",
       {hidden, server},
       std::nullopt,
       readable,
       {CommandLineSource::RunningServer},
       "(process 4242). Beside it, the process 999 bears the server's name, but the system "
       "refused to say where its executable lies (Access is denied)"},
      {"another account's process picked",
       {hidden, server},
       999u,
       readable,
       {CommandLineSource::Refused},
       "where the executable of process 999 (--server-pid) lies"},
      {"a service whose command line is hidden",
       {server},
       std::nullopt,
       refused,
       {CommandLineSource::Refused},
       "process 4242 (Access is denied)"},
      {"a server that ended meanwhile",
       {server},
       std::nullopt,
       ended,
       {CommandLineSource::Unreadable},
       "could not be read (the process has ended)"},
      {"a server where the plugin folder belongs",
       {process(4242, 1, "")},
       std::nullopt,
       readable,
       {CommandLineSource::RunningServer},
       "It runs from C:\\ARK\\ShooterGame\\Binaries\\Win64, where the plugin folder belongs",
       true},
      {"none, the plugin folder misplaced",
       {},
       std::nullopt,
       readable,
       {CommandLineSource::NotRunning},
       "Win64\\ArkApi, nor from C:\\ARK\\ShooterGame\\Binaries\\Win64, where the plugin folder "
       "belongs)",
       true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    check::CommandLineOrigin base;
    base.ServerFolder = "C:\\ARK\\ShooterGame\\Binaries\\Win64";
    if (test.misplaced) {
      base.BelongingFolder = base.ServerFolder;
      base.ServerFolder += "\\ArkApi";
    }
    const std::vector<check::ServerLookup> lookups = check::ChooseRunningServers(
        base, test.found, test.picked, [&](std::uint32_t) { return test.read; });
    std::vector<CommandLineSource> sources;
    for (const check::ServerLookup& lookup : lookups) {
      sources.push_back(lookup.Origin.Source);
      EXPECT_EQ(lookup.CommandLine.has_value(),
                lookup.Origin.Source == CommandLineSource::RunningServer);
    }
    EXPECT_EQ(sources, test.sources);
    const std::string note = check::OriginNote(lookups.back().Origin);
    EXPECT_NE(note.find(test.says), std::string::npos) << note;
  }
}

TEST(CheckerTest, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
  const test::ServerTree server;
  const std::string dir = test::Utf8FromPath(server.PluginDir());
  const fs::path script = server.Root() / "start.bat";
  test::WriteFile(script, "cd /d C:\\ARK\r\n\r\nArkAscendedServer.exe TheIsland_WP?listen\r\n");
  const struct {
    std::vector<std::string> arguments;
    std::string says;
  } cases[] = {
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"--plugin-dir"}, "--plugin-dir needs a value"},
      {{"--plugin-dir", dir, "--command-line"}, "--command-line needs a value"},
      {{"--plugin-dir", dir, "--command-line-file", dir + "/no such file.txt"},
       "cannot read the command-line file " + dir + "/no such file.txt: not found"},
      {{"--plugin-dir", dir, "--command-line-file", dir}, ": a directory, not a file"},
      // A command line pasted without quotes.
      {{"--plugin-dir", dir, "--command-line", "S.exe", "TheIsland_WP?ServerPassword=Pw", "x"},
       "unknown option TheIsland_WP?ServerPassword=********\nIt does not begin with '-'"},
      {{"--command-line", "x", "--command-line-file", "y"}, "not both"},
      {{"--raw", "--json"}, "not both"},
      {{"--server-pid", "4242x"}, "--server-pid needs a process id"},
      {{"--server-pid", "0"}, "--server-pid needs a process id"},
      {{"--server-pid", "4242", "--command-line", "S.exe"}, "not both"},
      {{"--plugin-dir", dir, "--command-line-file", test::Utf8FromPath(script)},
       "holds 2 lines that are not blank"},
  };
  for (const auto& check : cases) {
    const test::ProgramRun run = test::RunChecker(check.arguments);
    EXPECT_EQ(run.exitCode, 2) << check.says;
    EXPECT_EQ(run.output, "") << "a usage error prints no report";
    EXPECT_NE(UnixLines(run.errors).find(check.says), std::string::npos) << run.errors;
  }
  const test::ProgramRun help = test::RunChecker({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("--command-line-file"), std::string::npos) << help.output;
}

// A server manager's long command line with both passwords: no character of either shows in
// any output, whether the line is given whole, saved by wmic (UTF-16, "\r\r\n" line ends) or
// pasted without quotes so that it comes apart into stray arguments, a password cut in two
// included, and whether its key is followed by '=' or by a blank. The passwords are made of
// characters that nothing else in the outputs holds.
TEST(CheckerTest, NoCharacterOfAPasswordShowsAnywhere) {
  const std::u16string adminPassword = u"\u0416\u0429\u042e\u042f\u03a3\u03a6\u03a8\u03a9";
  const std::u16string joinPassword = u"\u0414\u041b\u0426\u042d \u0394\u0398\u039e\u03a0";
  const std::u16string line =
      u"\"C:\\asmdata\\Servers\\Server1\\ShooterGame\\Binaries\\Win64\\ArkAscendedServer.exe\" "
      u"\"TheIsland_WP?listen?SessionName=[EU] Vesper PvE | x3?Port=7777?QueryPort=27015"
      u"?RCONEnabled=True?RCONPort=27020?ServerAdminPassword=" +
      adminPassword + u"?MaxPlayers=70?AltSaveDirectoryName=TheIsland\" -ServerPassword=\"" +
      joinPassword +
      u"\" -WinLiveMaxPlayers=70 -NoBattlEye -servergamelog -mods=928102,931877 -culture=en "
      u"-ForceAllowCaveFlyers";
  const test::ServerTree server;
  Complete(server);
  const std::string dir = test::Utf8FromPath(server.PluginDir());
  const fs::path file = server.Root() / "cmdline.txt";
  test::WriteFile(file, test::Utf16LeFile(u"\r\r\n" + line + u"\r\r\n\r\r\n"));
  const std::string utf8Line = Utf16ToUtf8(line);
  const std::string admin = Utf16ToUtf8(adminPassword);
  const std::string join = Utf16ToUtf8(joinPassword);
  const std::string exe = "C:\\asmdata\\ArkAscendedServer.exe";
  // A start script and a settings file given for a command line: no line is one, and each is
  // named by its first word.
  const fs::path script = server.Root() / "start.sh";
  test::WriteFile(script, "#!/bin/sh\nADMIN_PASSWORD=" + Utf16ToUtf8(adminPassword) +
                              "\nSERVER_PASSWORD=\"" + Utf16ToUtf8(joinPassword) +
                              "\"\nwine ArkAscendedServer.exe TheIsland_WP?listen\n");
  const fs::path settings = server.Root() / "GameUserSettings.ini";
  test::WriteFile(settings,
                  "[ServerSettings]\r\nServerAdminPassword=" + Utf16ToUtf8(adminPassword) +
                      "\r\nServerPassword=" + Utf16ToUtf8(joinPassword) + "\r\n");
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
  } runs[] = {
      {{"--command-line", utf8Line}, 0},
      {{"--command-line", utf8Line, "--json", "--show-token"}, 0},
      {{"--command-line", utf8Line, "--raw", "--show-token"}, 0},
      {{"--command-line-file", test::Utf8FromPath(file), "--json"}, 0},
      {{"--command-line", exe, "TheIsland_WP?listen?ServerAdminPassword=" + admin + "?Port=7777"},
       2},
      // The join password's space unquoted: its second half is a stray argument of its own.
      {{"--command-line", exe + " TheIsland_WP?listen -ServerPassword=" + join.substr(0, 8),
        join.substr(9), "-NoBattlEye"},
       2},
      // The rest of a password cut off at a space that begins with '-' as an option does.
      {{"--command-line", exe + " TheIsland_WP?listen?ServerAdminPassword=" + admin.substr(0, 8),
        "-" + admin.substr(8)},
       2},
      // A blank instead of '=' after the key, in the line and cut off behind the key.
      {{"--command-line", exe + " TheIsland_WP?listen -ServerAdminPassword " + admin + " -log"}, 0},
      {{"--command-line", exe + " TheIsland_WP?listen -ServerAdminPassword", admin}, 2},
      // Wine's \" form, a password with a blank that lost its quotes, and one inside the name.
      {{"--command-line", exe + " TheIsland_WP?listen?ServerAdminPassword=\\\"" + join +
                              "\\\"?Port=7777 -NoBattlEye"},
       0},
      {{"--command-line", exe + " TheIsland_WP?listen?ServerAdminPassword=" + join +
                              " ?RCONEnabled=True -NoBattlEye"},
       0},
      {{"--command-line", exe + " TheIsland_WP?listen?SessionName=\"Rex -ServerPassword=\"" +
                              admin + "\" -NoBattlEye"},
       0},
      {{"--command-line-file", test::Utf8FromPath(script)}, 2},
      {{"--command-line-file", test::Utf8FromPath(settings)}, 2},
  };
  for (const auto& run : runs) {
    std::vector<std::string> arguments{"--plugin-dir", dir};
    arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
    const test::ProgramRun checked = test::RunChecker(arguments);
    SCOPED_TRACE(checked.output + checked.errors);
    EXPECT_EQ(checked.exitCode, run.exitCode);
    EXPECT_FALSE((run.exitCode == 2 ? checked.errors : checked.output).empty());
    for (const std::u16string* password : {&adminPassword, &joinPassword}) {
      for (const char16_t character : *password) {
        if (character == u' ') continue;
        const std::string shown = Utf16ToUtf8(std::u16string(1, character));
        EXPECT_EQ(checked.output.find(shown), std::string::npos) << shown;
        EXPECT_EQ(checked.errors.find(shown), std::string::npos) << shown;
      }
    }
  }
}

// A folder typed in quotes with a backslash before the closing quote: the backslash escapes the
// quote, and the rest of the line, --json included, runs into the folder. The checker explains
// that rather than look for such a folder.
TEST(CheckerTest, AQuoteEscapedByAFoldersLastBackslashIsExplained) {
  const test::ServerTree server;
  server.WriteConfig(kFullConfig);
  const std::string dir = test::Utf8FromPath(server.PluginDir());
#if defined(_WIN32)
  const test::ProgramRun run = test::RunCheckerAsTyped("--plugin-dir \"" + dir + "\\\" --json");
#else
  // What the Windows command-line rules make of that line.
  const test::ProgramRun run = test::RunChecker({"--plugin-dir", dir + "\" --json"});
#endif
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(UnixLines(run.errors).find("--plugin-dir holds a double quote: " + dir + "\" --json\n"),
            std::string::npos)
      << run.errors;
  EXPECT_NE(run.errors.find("A backslash right before a closing quote escapes the quote"),
            std::string::npos)
      << run.errors;
}

}  // namespace
}  // namespace vesperline
