#include "tools/check/model/Check.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "discovery/Discovery.h"
#include "heartbeat/Document.h"
#include "platform/Platform.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/text/Paths.h"
#include "tools/check/warnings/Warnings.h"

namespace vesperline::check {

namespace {

namespace fs = std::filesystem;

// One file as discovery read it, for the report.
FileCheck FileCheckOf(std::string role, const std::string& path, const FileRead& read) {
  std::string state = FileState(role, path, read);
  return {std::move(role),
          path,
          ShownPath(path),
          read.Opened,
          read.Opened && !read.TooLarge ? std::string(TextEncodingName(read.Encoding)) : "",
          std::move(state),
          platform::PathIdentity(path)};
}

// The last name of a path.
std::string LastName(const std::string& path) {
  return Utf8FromPath(PathFromUtf8(path).filename());
}

// Whom the files are read for, when they are read as the server process sees them; made on the
// thread that reads them, whose system names the server's user.
FileReader ReaderOf(const ServerPlace& place) {
  FileReader reader;
  reader.Root = place.Root;
  reader.OwnMounts = place.OwnMounts;
  reader.Where = PlaceName(place);
  reader.AnyCase = !place.WindowsPath.empty();
  if (place.User) {
    const std::string uid = std::to_string(place.User->Uid);
    const std::string name = UserName(place.User->Uid);
    reader.Uid = place.User->Uid;
    reader.Gid = place.User->Gid;
    reader.User = name.empty() ? "uid " + uid : name + " (uid " + uid + ")";
    reader.Owner = name.empty() ? uid + ":" + std::to_string(place.User->Gid) : name + ":";
  }
  return reader;
}

// The plugin file may be there, but the server's user may not read it, or not even enter a
// folder on the way to it, so the host cannot load it.
std::optional<std::string> UnreadablePluginFile(const std::string& dir) {
  if (Reader().User.empty()) return std::nullopt;
  const std::string path = dir + PluginFileIn(dir);
  if (!RefusalOn(path)) return std::nullopt;
  FileRead read;
  read.Failure = platform::OpenFailure::Other;
  read.FailureMessage = RefusedMessage();
  return PluginFileIn(dir) + " at " + ShownPath(path) + " " + NotOpenedSentence(path, read) +
         ". The plugin host cannot load it, so the plugin does not run at all";
}

// The plugin folder named on this machine against the one the server sees: where another folder,
// or another file, is mounted over it for the server, the admin would edit what the server never
// reads.
void CompareWithTheNamedFolder(const std::string& named, const ServerPlace& place,
                               CheckReport& report) {
  const std::string where = PlaceName(place);
  const std::string namedDir = PluginDirFrom(named);
  // The server's user may not even see it: the report says so.
  if (report.PluginDirRefused) return;
  const auto atPath = [](const std::string& here, const std::string& there) {
    return ShownPath(here) == there ? std::string("that path") : there;
  };
  if (platform::PathIdentity(namedDir) != report.PluginDirIdentity) {
    report.Warnings.push_back(
        "On this machine, the plugin folder named (" + ShownPath(namedDir) +
        ") is another folder than the one the server sees at " +
        atPath(namedDir, ShownPath(report.PluginDir)) + " in " + where +
        ": a folder is mounted over it there (a bind mount, a volume), and the plugin reads that "
        "one, as this report does. Put the plugin's files into the folder mounted there (docker "
        "inspect names a container's mounts, a systemd unit its BindPaths=).");
    return;
  }
  const std::string paths[] = {ConfigFilePath(namedDir), SettingsFilePath(namedDir),
                               ServerLogPath(namedDir)};
  for (std::size_t i = 0; i < report.Files.size() && i < std::size(paths); ++i) {
    const FileCheck& file = report.Files[i];
    const std::optional<platform::FileIdentity> here = platform::PathIdentity(paths[i]);
    if (here == file.Identity) continue;
    std::string warning = "On this machine, the " + file.Role + " at " + ShownPath(paths[i]) +
                          (here ? " is another file than the one" : " is missing, unlike the one") +
                          " the server reads at " + atPath(paths[i], file.ShownPath) + " in " +
                          where + ": ";
    warning += file.Identity
                   ? "a file is mounted over it there (one file bind-mounted, as docker run -v "
                     "/etc/ark/" +
                         LastName(file.Path) + ":" + file.ShownPath +
                         " does), and the plugin reads that one, as this report does. Edit the "
                         "file mounted there, not this one."
                   : "the server sees no file there.";
    report.Warnings.push_back(std::move(warning));
  }
}

// The report when the checker may not read the server's files as the server sees them.
CheckReport NotReadReport(const CheckInputs& inputs, const std::string& refused) {
  CheckReport report;
  report.PluginDir = inputs.PluginDir;
  report.PluginDirIsOwnFolder = inputs.PluginDirIsOwnFolder;
  report.PluginDirOfRunningServer = inputs.PluginDirOfRunningServer;
  report.Origin = inputs.Origin;
  if (inputs.CommandLine) report.CommandLine = MarkLaunchPasswords(*inputs.CommandLine).Text;
  const std::string state = "not read (see the verdict)";
  for (const auto& [role, path] : {std::pair{"config.json", ConfigFilePath(inputs.PluginDir)},
                                   std::pair{"settings file", SettingsFilePath(inputs.PluginDir)},
                                   std::pair{"server log", ServerLogPath(inputs.PluginDir)}}) {
    report.Files.push_back({role, path, ShownPath(path), false, "", state, std::nullopt});
  }
  const ServerPlace& place = inputs.Origin.Place;
  if (refused == kServerEnded) {
    report.NotRead =
        "the checker did not read the server's files: the server process ended meanwhile. Run the "
        "checker again.";
    return report;
  }
  report.NotRead =
      "the checker did not read the server's files: it reads them only as the server sees them" +
      (place.Root.empty() ? std::string() : ", in " + PlaceName(place)) +
      (place.User ? ", as the server's user" : "") +
      ", and that takes root's powers (the system refused it: " + refused +
      "). Run the checker with sudo.";
  return report;
}

// The detail of the first note of fact, or empty text.
std::string FirstDetail(const CheckReport& report, std::string_view fact) {
  for (const SourceNote& note : report.Notes) {
    if (note.Fact == fact) return note.Detail;
  }
  return {};
}

// Where the checker looked for the server besides the folder three levels above a plugin folder
// at the wrong depth, and what it found there; empty when it looked nowhere else.
std::string BelongingFolderNote(const CommandLineOrigin& origin) {
  if (origin.BelongingFolder.empty()) return {};
  std::string note = "The checker looked for the running server in " + origin.BelongingFolder +
                     " too, where the plugin folder belongs";
  if (origin.InBelongingFolder && origin.Id) {
    return note + ", and found it there: process " + std::to_string(*origin.Id) +
           ", whose command line the report shows.";
  }
  return note + ", and found no server running there.";
}

// The check, on the thread that reads the files as the server sees them when it does.
CheckReport CheckFiles(const CheckInputs& inputs) {
  CheckReport report;
  // Under Wine, the folder and every file are found in any case, as Wine finds them.
  const std::string dir = AsFound(inputs.PluginDir);
  report.PluginDir = dir;
  report.PluginDirIdentity = platform::PathIdentity(dir);
  report.PluginDirIsOwnFolder = inputs.PluginDirIsOwnFolder;
  report.PluginDirOfRunningServer = inputs.PluginDirOfRunningServer;
  report.Origin = inputs.Origin;
  report.DroppedLauncher = MaskText(inputs.DroppedLauncher);
  std::error_code error;
  report.PluginDirExists = fs::is_directory(PathFromUtf8(dir), error);
  // A folder on the way the server's user may not enter hides the folder, which is there.
  report.PluginDirRefused = error == std::errc::permission_denied;

  // The server's own word on its launch line: compared with a running server's command line, or
  // read in its place when there is no command line at all.
  const bool fromProcess = inputs.Origin.Source == CommandLineSource::RunningServer;
  if (fromProcess || !inputs.CommandLine) report.LogLine = ReadLogCommandLine(ServerLogFound(dir));
  std::string commandLine = inputs.CommandLine.value_or("");
  if (!inputs.CommandLine && report.LogLine) {
    commandLine = CommandLineForEngineLine(report.LogLine->Line);
    report.LogLine->Taken = true;
    report.Origin.FromServerLog = true;
  }

  // The plugin's own start-up discovery, asked to go on past a failed gate so that the admin
  // sees every fact: once over the command line itself, for the facts and the verdict, and once
  // over the same line with its passwords marked, for everything the report says about the line.
  // The two read alike, since marks keep the line's shape.
  const MarkedLine marked = MarkLaunchPasswords(commandLine);
  if (inputs.CommandLine) report.CommandLine = marked.Text;
  report.Mark = marked.Mark;
  const Discovery real = DiscoverServer({dir, [&] { return commandLine; }, nullptr, AsFound},
                                        {.PastFailedGate = true});
  Discovery found = DiscoverServer({dir, [&] { return marked.Text; }, nullptr, AsFound},
                                   {.PastFailedGate = true, .WithNotes = true});
  found.Usable = real.Usable;
  found.Facts = real.Facts;
  std::optional<std::string> missingPlugin = UnreadablePluginFile(dir);
  if (!missingPlugin) missingPlugin = MissingPluginFile(dir);
  report.PluginFileFound = !missingPlugin;
  if (missingPlugin) report.IdleReasons.push_back(std::move(*missingPlugin));
  report.WouldReport = found.Usable && report.PluginFileFound;
  report.PluginFile = LookAtPluginFile(dir);
  report.Warnings = FindWarnings(dir, found, report.PluginFile, BelongingFolderNote(inputs.Origin));
  if (report.LogLine && fromProcess) {
    CompareWithTheLog(*report.LogLine, real.Launch, found.Launch);
    // Which reading is right, the server's or the checker's, is unknown: an aside for support.
    std::vector<std::string> differs;
    WarnOfADifferentLogLine(*report.LogLine, report.Origin, differs);
    for (std::string& warning : differs) {
      report.Warnings.push_back({std::move(warning), WarningWeight::kAside});
    }
  }
  report.Facts = std::move(found.Facts);
  report.Notes = std::move(found.Notes);
  report.Files = {FileCheckOf("config.json", ConfigFileFound(dir), found.Config),
                  FileCheckOf("settings file", SettingsFileFound(dir), found.Settings),
                  FileCheckOf("server log", ServerLogFound(dir), found.Log)};
  // The way to the settings file and the log leads through the plugin folder.
  if (!report.PluginDirExists && !report.PluginDirRefused) {
    for (FileCheck& file : report.Files) {
      if (&file != &report.Files[0] && !file.Found) {
        file.State = "not reached: the plugin looks for it from its own folder, which is missing";
      }
    }
  }
  const ServerFacts& facts = report.Facts;

  const FileCheck& config = report.Files[0];
  if (const std::optional<DeadLink> dead = DeadLinkAt(config.Path);
      dead && found.Config.Failure == platform::OpenFailure::Missing) {
    report.IdleReasons.push_back("config.json at " + config.ShownPath + " is " +
                                 DeadLinkState(*dead) + ", so the plugin finds no config.json");
    return report;
  }
  if (found.Config.Failure == platform::OpenFailure::Missing) {
    std::string reason = "no config.json at " + config.ShownPath;
    // A config.json.txt holds what the admin filled in; a copy of the example would lose it.
    const std::vector<std::string> hidden = HiddenExtensionFiles(dir);
    if (!hidden.empty()) {
      reason += ", but " + hidden.front() + " lies beside it: " + RenameAdvice(hidden.front());
    } else if (ExampleHoldsAToken(dir)) {
      reason +=
          ", but config.example.json beside it has a token filled in, " + CopyTheExample(false);
    } else if (fs::is_regular_file(PathFromUtf8(dir + "config.example.json"), error)) {
      reason +=
          ", but config.example.json lies beside it: copy it to config.json and fill in the "
          "token, the address and the port";
    }
    report.IdleReasons.push_back(std::move(reason));
    return report;
  }
  if (found.Config.TooLarge) {
    report.IdleReasons.push_back(
        "config.json at " + config.ShownPath + " is " + std::to_string(*found.Config.TooLarge) +
        " bytes long; the plugin reads no config.json over " + std::to_string(kMaxConfigFileBytes) +
        " bytes and counts it as missing: it needs only the token, the "
        "address and the port (see config.example.json)");
    return report;
  }
  if (!found.Config.Opened) {
    std::string reason =
        "config.json at " + config.ShownPath + " " + NotOpenedSentence(config.Path, found.Config);
    if (HeldOpen(found.Config)) reason += Enclosed(": ", kCloseTheHolder, "");
    if (found.Config.Failure == platform::OpenFailure::Directory) {
      reason += ConfigFolderCause(config.Path);
    }
    report.IdleReasons.push_back(std::move(reason));
    return report;
  }
  if (found.Config.Encoding == TextEncoding::Utf16Be) {
    report.IdleReasons.push_back(
        "config.json is saved as UTF-16 big-endian, which the plugin does not read: save it as "
        "UTF-8, or as \"Unicode\" in Notepad");
    return report;
  }
  if (const std::optional<std::uint64_t> bytes = EmptyConfigBytes(dir, found.Config)) {
    std::string reason =
        "config.json at " + config.ShownPath + " is empty (" +
        (*bytes == 0 ? std::string("0 bytes")
                     : "its " + std::to_string(*bytes) +
                           " bytes hold only a byte-order mark, blanks or line breaks") +
        "), so the plugin finds no token, address or port in it";
    reason +=
        ExampleHoldsAToken(dir)
            ? ", while config.example.json beside it has a token filled in, " + CopyTheExample(true)
            : ": fill in the token, the address and the port, as config.example.json shows";
    report.IdleReasons.push_back(std::move(reason));
    return report;
  }
  // A copy of the sample that was never filled in has the sample's own empty values.
  const bool sample = (facts.Token.empty() || facts.ServerIp.empty()) && ConfigIsTheSample(dir);
  const std::string sampleLeft =
      "config.json is still the sample as shipped (a copy of config.example.json), with ";
  if (facts.Token.empty()) {
    std::string reason = "token empty: " + (sample ? sampleLeft + "no token filled in"
                                                   : FirstDetail(report, "token"));
    if (ExampleHoldsAToken(dir)) {
      reason +=
          "; config.example.json beside it has a token filled in, but the plugin reads only "
          "config.json: fill in the token there";
    } else if (sample) {
      reason += ": fill in the token the service issued for this server";
    }
    report.IdleReasons.push_back(std::move(reason));
  }
  if (facts.ServerIp.empty()) {
    report.IdleReasons.push_back(
        "ip empty: " + (sample ? sampleLeft + "no address filled in: fill in the server's public "
                                              "address, the one players connect to"
                               : FirstDetail(report, "ip")));
  }
  if (facts.ServerPort < 1) {
    std::string reason =
        "port below 1 (" + std::to_string(facts.ServerPort) +
        "): looked for in config.json \"port\", then in the launch arguments ?Port= and -port=";
    // With no port on its launch line the server listens on the game's default port, which the
    // plugin never assumes: config.json must name it.
    const std::string fix =
        "give the server's port in config.json, \"port\": " + std::to_string(kGameDefaultPort) +
        " for the game's default port (or the port the server listens on, "
        "if something else sets it)";
    const LaunchPort launch = ScanLaunchPort(found.Launch);
    if (!inputs.CommandLine && !report.LogLine) {
      reason += ", but the checker has no command line (see \"Command line\" above): " + fix;
    } else if (!launch.Question.Found && !(launch.Dash && launch.Dash->Found)) {
      reason +=
          ", and the launch line gives neither (no ?Port= in the server's map URL, no "
          "-port=), so the server listens on the game's default port, " +
          std::to_string(kGameDefaultPort) + ", while the plugin finds no port: " + fix;
    }
    report.IdleReasons.push_back(std::move(reason));
  }
  return report;
}

}  // namespace

CheckReport RunCheck(const CheckInputs& inputs) {
  if (!inputs.AsTheServerSees) return CheckFiles(inputs);
  const ServerPlace& place = inputs.Origin.Place;
  CheckReport report;
  std::string refused;
  const bool read = RunAsServerSees(
      place,
      [&] {
        const ReadingFor reader(ReaderOf(place));
        report = CheckFiles(inputs);
      },
      refused);
  if (!read) return NotReadReport(inputs, refused);
  report.AsTheServerSees = true;
  if (!inputs.NamedPluginDir.empty() && !place.Root.empty()) {
    CompareWithTheNamedFolder(inputs.NamedPluginDir, place, report);
  }
  return report;
}

std::vector<CheckReport> RunChecks(const std::vector<CheckInputs>& inputs) {
  std::vector<CheckReport> reports;
  for (const CheckInputs& one : inputs) reports.push_back(RunCheck(one));
  for (CheckReport& report : reports) {
    if (!report.WouldReport) continue;
    const ServerFacts& facts = report.Facts;
    for (const CheckReport& other : reports) {
      if (&other == &report || !other.WouldReport || !other.Origin.Id ||
          other.Facts.Token != facts.Token || other.Facts.ServerIp != facts.ServerIp ||
          other.Facts.ServerPort != facts.ServerPort) {
        continue;
      }
      report.Warnings.push_back(
          "Process " + std::to_string(*other.Origin.Id) +
          ", another server of this install, would post the same token, address and port (" +
          facts.ServerIp + ", port " + std::to_string(facts.ServerPort) +
          "): the service takes the two for one server, so only one of them is listed. Give "
          "each server a port of its own: with \"port\": 0 in config.json, each takes the port "
          "of its own launch line (?Port=).");
    }
  }
  return reports;
}

std::optional<std::string> WouldSendDocument(const CheckReport& report, bool showToken) {
  // The heartbeat's own guard is the start-up gate's condition; both pass or neither does.
  if (!report.WouldReport) return std::nullopt;
  ServerFacts facts = report.Facts;
  if (!showToken) facts.Token = MaskToken(facts.Token);
  return BuildHeartbeatDocument(facts, report.DocumentStatus, -1, -1, {});
}

std::string_view VerdictName(const CheckReport& report) {
  if (report.WouldReport) return "report";
  if (!report.NotRead.empty()) return "unknown";
  return report.PluginFileFound ? "idle" : "not loaded";
}

}  // namespace vesperline::check
