#include "tools/check/report/Report.h"

#include "common/Version.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/text/JsonText.h"
#include "tools/check/text/Paths.h"
#include "tools/check/text/Printable.h"

namespace vesperline::check {

namespace {

constexpr char kTitle[] = "vesperline-check: what the Vesperline plugin would do in this server\n";
constexpr char kSeveralTitle[] =
    "vesperline-check: what the Vesperline plugin would do in each server of this install\n";

// Where a server runs, as members of a JSON object: each null where it does not apply.
void AppendPlaceMembers(std::string& out, const ServerPlace& place) {
  out += ",\"container\":";
  out += JsonTextOrNull(place.Container);
  out += ",\"root\":";
  out += JsonTextOrNull(place.Root);
  out += ",\"path_inside\":";
  out += JsonTextOrNull(place.PathInside);
  out += ",\"windows_path\":";
  out += JsonTextOrNull(place.WindowsPath);
  out += ",\"wine_prefix\":";
  out += JsonTextOrNull(place.WinePrefix);
}

std::string JsonIds(const std::vector<std::uint32_t>& ids) {
  std::string json = "[";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i != 0) json += ',';
    json += std::to_string(ids[i]);
  }
  return json + "]";
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

// What the report says of cmd's words dropped in front of a pasted command line.
std::string LauncherNote(std::string_view dropped) {
  return "cmd's start in front of it (" + std::string(dropped) +
         ") was dropped before reading: cmd takes start, the window title and the switches "
         "after it for itself, and starts the server with the rest.";
}

// How the plugin file's version compares with the checker's, for scripts.
std::string_view PluginVersionName(PluginVersion compared) {
  switch (compared) {
    case PluginVersion::NotFound:
      return "not found";
    case PluginVersion::NotRead:
      return "not read";
    case PluginVersion::LinuxBuild:
      return "linux build";
    case PluginVersion::NoDll:
      return "no dll";
    case PluginVersion::NoVersion:
      return "no version";
    case PluginVersion::Older:
      return "older";
    case PluginVersion::Same:
      return "same";
    case PluginVersion::Newer:
      return "newer";
  }
  return "not read";
}

// The plugin file and its version beside this checker's, for a reader.
std::string PluginFileText(const PluginFileLook& plugin, PluginVersion compared) {
  const std::string own = kVersion;
  const std::string version = plugin.Version ? VersionText(*plugin.Version) : "";
  switch (compared) {
    case PluginVersion::NotFound:
      return plugin.Name + " is not in the plugin folder (see the verdict)";
    case PluginVersion::NotRead:
      return plugin.Name + ", which the checker could not read";
    case PluginVersion::LinuxBuild:
      return plugin.Name + ", the plugin built for Linux, which carries no version";
    case PluginVersion::NoDll:
      return plugin.Name + ", which is no Windows DLL, or one cut short (see Warnings)";
    case PluginVersion::NoVersion:
      return plugin.Name + " without a version: a build older than this checker's " + own +
             " (see Warnings)";
    case PluginVersion::Older:
      return plugin.Name + " " + version + ", older than this checker's " + own + " (see Warnings)";
    case PluginVersion::Same:
      return plugin.Name + " " + version + ", the version of this checker";
    case PluginVersion::Newer:
      return plugin.Name + " " + version + ", newer than this checker's " + own + " (see Warnings)";
  }
  return plugin.Name;
}

// The facts with their sources. The facts are what the plugin publishes, which holds no password;
// the token is masked unless showToken.
std::vector<ShownFact> Facts(const CheckReport& report, bool showToken) {
  const ServerFacts& facts = report.Facts;
  const auto text = [](const std::string& value) {
    return value.empty() ? std::string("(none)") : value;
  };
  const std::string token = showToken ? facts.Token : MaskToken(facts.Token);
  std::vector<ShownFact> shown = {
      {"token",
       "token",
       facts.Token.empty() ? "(none)"
       : showToken         ? token
                           : token + "  (masked; --show-token shows it)",
       JsonTextOrNull(token),
       {}},
      {"ip", "ip", text(facts.ServerIp), JsonTextOrNull(facts.ServerIp), {}},
      {"port", "port", std::to_string(facts.ServerPort), std::to_string(facts.ServerPort), {}},
      {"session name",
       "session_name",
       text(facts.SessionName),
       JsonTextOrNull(facts.SessionName),
       {}},
      {"map", "map", text(facts.MapName), JsonTextOrNull(facts.MapName), {}},
      {"player limit",
       "player_limit",
       facts.PlayerLimit > 0 ? std::to_string(facts.PlayerLimit) : "(none)",
       std::to_string(facts.PlayerLimit),
       {}},
      {"mods", "mods", text(facts.ModList), JsonTextOrNull(facts.ModList), {}},
      {"PvE", "pve", facts.IsPve ? "true" : "false", facts.IsPve ? "true" : "false", {}},
      {"version", "version", text(facts.ServerVersion), JsonTextOrNull(facts.ServerVersion), {}},
  };
  for (ShownFact& fact : shown) {
    for (const SourceNote& note : report.Notes) {
      if (note.Fact == fact.Name) {
        fact.Notes.push_back({note.Source, note.Used, Unmarked(note.Detail, report.Mark)});
      }
    }
  }
  return shown;
}

// The report for a reader, below its title. Every text that comes from outside (paths, the
// command line, the files' contents) goes through Printable.
std::string TextBody(const ShownReport& shown) {
  std::string out = "Plugin folder  " + Printable(shown.PluginDir);
  if (shown.PluginDirRefused) {
    out += "  (the server's user may not enter it: see the files below)";
  } else if (!shown.PluginDirExists && shown.NotRead.empty()) {
    out += "  (no such folder)";
  }
  out += shown.PluginDirRemark;
  out += "\nPlugin file    " + Printable(shown.PluginFileText);
  out += "\nCommand line   ";
  if (shown.CommandLine) out += Printable(*shown.CommandLine) + "\n               ";
  out += Printable(shown.OriginNote);
  if (!shown.DroppedNote.empty()) out += "\n               " + Printable(shown.DroppedNote);
  out += '\n';
  if (shown.LogLine) {
    out += "Server's log   " + Printable(shown.LogLine->Line) + "\n               " +
           Printable(shown.LogLine->Note) + "\n";
  }

  out += "\nFiles the plugin reads\n";
  for (const ShownFile& file : shown.Files) {
    out += "  " + Padded(file.Role, 14) + Printable(file.Path) + "\n";
    out += "  " + Padded("", 14) + Printable(file.State) + "\n";
  }

  out += "\nFacts, each with the sources looked at in order\n";
  if (!shown.NotRead.empty()) {
    out += "  (none gathered: the checker did not read the server's files)\n";
  } else if (!shown.PluginFileFound) {
    out +=
        "  (without its file the plugin does not run, so it gathers none of these facts; they are "
        "shown for your information)\n";
  } else if (!shown.WouldReport) {
    out +=
        "  (the plugin stays idle, so it never gathers the facts below the port; they are "
        "shown for your information)\n";
  }
  for (const ShownFact& fact : shown.Facts) {
    if (!shown.NotRead.empty()) break;
    out += "  " + Padded(fact.Name, 14) + Printable(fact.Text) + "\n";
    for (const ShownNote& note : fact.Notes) {
      out += "      " + Padded(note.Used ? "used" : "passed over", 13) + note.Source + ": " +
             Printable(note.Detail) + "\n";
    }
  }

  if (!shown.Warnings.empty()) out += "\nWarnings\n";
  for (const std::string& warning : shown.Warnings) out += "  - " + Printable(warning) + "\n";

  constexpr std::string_view kReports = "report this server, with a heartbeat every minute.\n";
  if (!shown.NotRead.empty()) {
    out += "\nVerdict: unknown, because " + Printable(shown.NotRead) + "\n";
  } else if (shown.WouldReport) {
    out += "\nVerdict: the plugin would " + std::string(kReports);
  } else {
    const std::vector<std::string>& reasons = shown.IdleReasons;
    std::size_t first = 0;
    if (!shown.PluginFileFound && !reasons.empty()) {
      // What the plugin would do once its file is in place follows, so that one round of fixes
      // is enough.
      out += "\nVerdict: the plugin would not run at all, so it reports nothing, because:\n";
      out += "  - " + Printable(reasons.front()) + "\n";
      first = 1;
      out += "With its file in place, it would ";
      out += first < reasons.size() ? "stay idle and report nothing, because:\n"
                                    : std::string(kReports);
    } else {
      out += "\nVerdict: the plugin would stay idle and report nothing, because:\n";
    }
    for (std::size_t i = first; i < reasons.size(); ++i) {
      out += "  - " + Printable(reasons[i]) + "\n";
    }
  }

  if (shown.Document) {
    out +=
        "\nThe heartbeat it would send now, without the live world part (players online, day "
        "and player list):\n";
    // EscapeJson has escaped the C0 controls already; DEL and C1 are valid JSON as they are.
    out += EscapeDelAndC1(PrettyJson(*shown.Document)) + "\n";
  }
  return out;
}

std::string JsonBools(bool value) {
  return value ? "true" : "false";
}

// The same report as one JSON object. Built by appending piece by piece: g++ 12 warns falsely
// about overlapping copies in chains that put a literal before a temporary string.
std::string JsonOf(const ShownReport& shown) {
  std::string out = "{\"plugin_dir\":";
  out += JsonString(shown.PluginDir);
  out += ",\"plugin_dir_source\":";
  out += JsonString(shown.PluginDirSource);
  out += ",\"plugin_dir_exists\":";
  out += JsonBools(shown.PluginDirExists || shown.PluginDirRefused);
  out += ",\"plugin_file\":{\"name\":";
  out += JsonString(shown.PluginFileName);
  out += ",\"found\":";
  out += JsonBools(shown.PluginFileThere);
  out += ",\"version\":";
  out += shown.PluginVersion ? JsonString(*shown.PluginVersion) : "null";
  out += ",\"checker_version\":";
  out += JsonString(kVersion);
  out += ",\"compared\":";
  out += JsonString(shown.PluginVersionCompared);
  out += '}';
  out += ",\"command_line\":";
  out += shown.CommandLine ? JsonString(*shown.CommandLine) : "null";
  out += ",\"command_line_source\":{\"source\":";
  out += JsonString(shown.Source);
  out += ",\"process_id\":";
  out += shown.ProcessId ? std::to_string(*shown.ProcessId) : "null";
  out += ",\"servers_found\":";
  out += JsonIds(shown.ServersFound);
  out += ",\"refused_processes\":";
  out += JsonIds(shown.RefusedProcesses);
  const ServerPlace& place = shown.Place;
  AppendPlaceMembers(out, place);
  out += ",\"note\":";
  out += JsonString(shown.OriginNote);
  out += ",\"dropped\":";
  out += JsonTextOrNull(shown.Dropped);
  out += "},\"server_log_command_line\":";
  if (const std::optional<ShownLogLine>& log = shown.LogLine) {
    out += "{\"line\":";
    out += JsonString(log->Line);
    out += ",\"cut\":";
    out += JsonBools(log->Cut);
    out += ",\"taken\":";
    out += JsonBools(log->Taken);
    out += ",\"differs\":";
    out += log->Differs ? JsonBools(*log->Differs) : "null";
    out += ",\"note\":";
    out += JsonString(log->Note);
    out += '}';
  } else {
    out += "null";
  }
  out += ",\"files\":{";
  for (std::size_t i = 0; i < shown.Files.size(); ++i) {
    const ShownFile& file = shown.Files[i];
    if (i != 0) out += ',';
    out += JsonString(file.JsonKey);
    out += ":{\"path\":";
    out += JsonString(file.Path);
    out += ",\"found\":";
    out += JsonBools(file.Found);
    out += ",\"encoding\":";
    out += JsonTextOrNull(file.Encoding);
    out += ",\"state\":";
    out += JsonString(file.State);
    out += '}';
  }
  out += "},\"facts\":{";
  for (std::size_t i = 0; i < shown.Facts.size(); ++i) {
    const ShownFact& fact = shown.Facts[i];
    if (i != 0) out += ',';
    out += JsonString(fact.JsonKey);
    out += ":{\"value\":";
    out += fact.Json;
    out += ",\"sources\":[";
    for (std::size_t n = 0; n < fact.Notes.size(); ++n) {
      if (n != 0) out += ',';
      out += "{\"source\":";
      out += JsonString(fact.Notes[n].Source);
      out += ",\"used\":";
      out += JsonBools(fact.Notes[n].Used);
      out += ",\"detail\":";
      out += JsonString(fact.Notes[n].Detail);
      out += '}';
    }
    out += "]}";
  }
  out += "},\"verdict\":";
  out += JsonString(shown.Verdict);
  out += ",\"not_read\":";
  out += JsonTextOrNull(shown.NotRead);
  for (const auto& [name, texts] :
       {std::pair{"idle_reasons", &shown.IdleReasons}, std::pair{"warnings", &shown.Warnings}}) {
    out += ",\"";
    out += name;
    out += "\":[";
    for (std::size_t i = 0; i < texts->size(); ++i) {
      if (i != 0) out += ',';
      out += JsonString((*texts)[i]);
    }
    out += ']';
  }
  out += ",\"document\":";
  out += shown.Document.value_or("null");
  if (shown.Post) {
    out += ",\"post\":";
    out += *shown.Post;
  }
  out += '}';
  return out;
}

constexpr char kSurveyTitle[] = "vesperline-check: which server to check\n";

// A process bearing the server's name, for the survey: its program where it runs, and how.
std::string WhereItRuns(const ServerProcess& process) {
  const ServerPlace& place = process.Place;
  std::string text = place.PathInside.empty() ? process.Executable : place.PathInside;
  if (!place.Root.empty()) text += ", in " + PlaceName(place);
  if (!place.WindowsPath.empty()) {
    text += std::string(", run by ") + (place.Proton ? "Proton" : "Wine");
  }
  return text;
}

// The server's plugin folder as it sees it.
std::string SeenPluginFolder(const ServerProcess& process) {
  const ServerPlace& place = process.Place;
  const std::string& program = place.PathInside.empty() ? process.Executable : place.PathInside;
  return Utf8FromPath(PathFromUtf8(program).parent_path() / "ArkApi" / "Plugins" / "Vesperline");
}

std::vector<std::uint32_t> IdsOf(const std::vector<ServerProcess>& processes) {
  std::vector<std::uint32_t> ids;
  for (const ServerProcess& process : processes) ids.push_back(process.Id);
  return ids;
}

// The survey's sentences around the list of servers: what the checker looked for, and after the
// list what it could not see and what to do.
struct SurveySentences {
  std::string Lead;
  std::vector<std::string> After;
};

SurveySentences SurveyText(const ServersSeen& seen) {
  SurveySentences text;
  text.Lead = "No plugin folder was named (--plugin-dir), and the checker's own folder";
  if (!seen.OwnFolder.empty()) text.Lead += ", " + seen.OwnFolder + ",";
  text.Lead += " is no plugin folder, so it looked for the servers running on this machine. ";
  if (seen.Picked) {
    text.Lead += "Process " + std::to_string(*seen.Picked) + " (--server-pid) is none of them. ";
  }
  const std::size_t count = seen.Servers.size();
  const bool unseen = !seen.Refused.empty() || seen.Hidden;
  if (count == 0) {
    text.Lead += unseen
                     ? "It sees no server it may look into."
                     : "It sees no server running: no process runs " + std::string(kServerProgram) +
                           ", whether Wine or Proton runs it or it runs alone.";
  } else {
    text.Lead += count == 1 ? std::string("It sees one server running:")
                            : "It sees " + std::to_string(count) + " servers running:";
  }
  if (!seen.Refused.empty()) {
    const bool one = seen.Refused.size() == 1;
    std::string ids;
    for (const ServerProcess& process : seen.Refused) {
      ids += (ids.empty() ? "" : ", ") + std::to_string(process.Id);
    }
    text.After.push_back(
        std::string(one ? "It may not look at process " : "It may not look at processes ") + ids +
        ", which bear" + (one ? "s" : "") + " the server's name: the system refused to say where " +
        (one ? "its program lies" : "their programs lie") + " (" + seen.Refused.front().Refused +
        "), as it does for a server of another user or in a container to a "
        "checker without root's powers.");
  }
  if (seen.Hidden) {
    text.After.push_back(
        "On this machine /proc is mounted with hidepid, so the system hides the processes of other "
        "users from a checker without root's powers: a server of another user is not even named "
        "here.");
  }
  if (seen.UnderWine) text.After.push_back(OtherWinePrefixes());
  if (count > 0) {
    text.After.push_back(
        std::string(unseen ? "Run the checker with sudo to see every server. " : "") +
        "Check one of them with --server-pid N, or name its plugin folder with "
        "--plugin-dir DIR.");
  } else if (unseen) {
    text.After.push_back(
        "Run the checker with sudo to see every server, or name the plugin folder with "
        "--plugin-dir DIR.");
  } else {
    text.After.push_back(
        "Start the server and run the checker again, or name the plugin folder with --plugin-dir "
        "DIR to check it while the server is stopped.");
  }
  return text;
}

}  // namespace

std::string HumanSurvey(const ServersSeen& seen) {
  const SurveySentences text = SurveyText(seen);
  std::string out = std::string(kSurveyTitle) + "\n" + Printable(text.Lead) + "\n";
  for (const ServerProcess& process : seen.Servers) {
    out += "  " + Padded("process " + std::to_string(process.Id), 16) +
           Printable(WhereItRuns(process)) + "\n";
    out += "  " + Padded("", 16) + "plugin folder " + Printable(SeenPluginFolder(process)) + "\n";
  }
  for (const std::string& sentence : text.After) out += Printable(sentence) + "\n";
  return out;
}

std::string JsonSurvey(const ServersSeen& seen) {
  const SurveySentences text = SurveyText(seen);
  std::string note = text.Lead;
  for (const std::string& sentence : text.After) note += " " + sentence;
  std::string out = "{\"verdict\":\"no server chosen\",\"checker_folder\":";
  out += JsonTextOrNull(seen.OwnFolder);
  out += ",\"servers_seen\":[";
  for (std::size_t i = 0; i < seen.Servers.size(); ++i) {
    const ServerProcess& process = seen.Servers[i];
    const ServerPlace& place = process.Place;
    if (i != 0) out += ',';
    out += "{\"process_id\":";
    out += std::to_string(process.Id);
    out += ",\"executable\":";
    out += JsonString(process.Executable);
    out += ",\"plugin_dir\":";
    out += JsonString(SeenPluginFolder(process));
    AppendPlaceMembers(out, place);
    out += '}';
  }
  out += "],\"refused_processes\":";
  out += JsonIds(IdsOf(seen.Refused));
  out += ",\"processes_hidden\":";
  out += JsonBools(seen.Hidden);
  out += ",\"note\":";
  out += JsonString(note);
  return out + "}";
}

ShownReport ShowReport(const CheckReport& report, bool showToken, const PostRecord* post) {
  const auto masked = [&](std::string_view text) { return Unmarked(text, report.Mark); };
  ShownReport shown;
  shown.PluginDir = ShownPath(report.PluginDir);
  shown.PluginDirSource = report.PluginDirIsOwnFolder       ? "checker's folder"
                          : report.PluginDirOfRunningServer ? "running server"
                                                            : "--plugin-dir";
  std::string remark;
  if (report.PluginDirIsOwnFolder) {
    remark = "the folder of vesperline-check itself; --plugin-dir names another";
  } else if (report.PluginDirOfRunningServer) {
    remark = "the plugin folder of the one server running; --plugin-dir names another";
  }
  const ServerPlace& seenBy = report.Origin.Place;
  if (report.AsTheServerSees && !seenBy.Root.empty()) {
    remark += remark.empty() ? "" : "; ";
    remark += "as the server sees it, in " + PlaceName(seenBy) + ", like every path below; " +
              "this machine reaches them through " + seenBy.Root;
  }
  if (!remark.empty()) shown.PluginDirRemark = "  (" + remark + ")";
  shown.PluginDirExists = report.PluginDirExists;
  shown.PluginDirRefused = report.PluginDirRefused;
  const PluginVersion compared = CompareWithChecker(report.PluginFile);
  shown.PluginFileText = report.NotRead.empty() ? PluginFileText(report.PluginFile, compared)
                                                : "not read (see the verdict)";
  shown.PluginFileName = report.PluginFile.Name;
  shown.PluginFileThere = report.PluginFile.Found;
  if (report.PluginFile.Version) shown.PluginVersion = VersionText(*report.PluginFile.Version);
  shown.PluginVersionCompared = PluginVersionName(compared);
  if (report.CommandLine) shown.CommandLine = masked(*report.CommandLine);
  const CommandLineOrigin& origin = report.Origin;
  shown.Source = SourceName(origin.Source);
  shown.ProcessId = origin.Id;
  shown.ServersFound = origin.Found;
  shown.RefusedProcesses = origin.Refused;
  shown.Place = origin.Place;
  shown.OriginNote = OriginNote(origin);
  shown.Dropped = report.DroppedLauncher;
  if (!report.DroppedLauncher.empty()) shown.DroppedNote = LauncherNote(report.DroppedLauncher);
  if (const std::optional<LogCommandLine>& log = report.LogLine) {
    shown.LogLine = ShownLogLine{log->Shown, log->Cut, log->Taken, log->Differs,
                                 LogCommandLineNote(*log, origin)};
  }
  constexpr const char* kFileKeys[] = {"config", "settings", "log"};
  for (std::size_t i = 0; i < report.Files.size() && i < std::size(kFileKeys); ++i) {
    const FileCheck& file = report.Files[i];
    shown.Files.push_back(
        {file.Role, kFileKeys[i], file.ShownPath, file.Found, file.Encoding, file.State});
  }
  shown.Facts = Facts(report, showToken);
  shown.PluginFileFound = report.PluginFileFound;
  shown.WouldReport = report.WouldReport;
  shown.Verdict = VerdictName(report);
  shown.NotRead = report.NotRead;
  for (const std::string& reason : report.IdleReasons) shown.IdleReasons.push_back(masked(reason));
  // The reading order: what changes the verdict or a published fact first, then the asides,
  // each group in the order of its subjects. The text and the JSON both show this one list.
  for (const WarningWeight weight : {WarningWeight::kOutcome, WarningWeight::kAside}) {
    for (const Warning& warning : report.Warnings) {
      if (warning.Weight == weight) shown.Warnings.push_back(masked(warning.Text));
    }
  }
  shown.Document = WouldSendDocument(report, showToken);
  if (post != nullptr) shown.Post = PostJson(*post, showToken);
  return shown;
}

std::string PrettyJson(std::string_view json) {
  std::string out;
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  const auto newLine = [&] {
    out.push_back('\n');
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
  };
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (inString) {
      out.push_back(c);
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        out.push_back(c);
        break;
      case '{':
      case '[':
        out.push_back(c);
        if (i + 1 < json.size() && (json[i + 1] == '}' || json[i + 1] == ']')) {
          out.push_back(json[++i]);
        } else {
          ++depth;
          newLine();
        }
        break;
      case '}':
      case ']':
        --depth;
        newLine();
        out.push_back(c);
        break;
      case ',':
        out.push_back(c);
        newLine();
        break;
      case ':':
        out.append(": ");
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string HumanReport(const CheckReport& report, bool showToken) {
  return std::string(kTitle) + "\n" + TextBody(ShowReport(report, showToken));
}

std::string HumanReports(const std::vector<CheckReport>& reports, bool showToken) {
  if (reports.size() == 1) return HumanReport(reports.front(), showToken);
  const std::string count = std::to_string(reports.size());
  std::string out = kSeveralTitle;
  out += "\n" + count + " servers of this install are running, each reported in turn below.\n";
  std::string verdicts;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const CheckReport& report = reports[i];
    const std::string id = report.Origin.Id ? std::to_string(*report.Origin.Id) : "?";
    out +=
        "\n=== Server " + std::to_string(i + 1) + " of " + count + ": process " + id + " ===\n\n";
    out += TextBody(ShowReport(report, showToken));
    verdicts += i == 0 ? "" : "; ";
    verdicts += "process " + id +
                (report.WouldReport        ? " would report"
                 : !report.NotRead.empty() ? " was not checked"
                 : report.PluginFileFound  ? " would stay idle"
                                           : " would not run");
  }
  return out + "\nVerdicts: " + verdicts + ".\n";
}

std::string JsonReport(const CheckReport& report, bool showToken, const PostRecord* post) {
  return JsonOf(ShowReport(report, showToken, post));
}

std::string JsonReports(const std::vector<CheckReport>& reports, bool showToken) {
  if (reports.size() == 1) return JsonReport(reports.front(), showToken);
  // Several servers: the object each would have alone, in a list, so that a script reads
  // r.get("servers", [r]) either way; the verdict is the worst, as the exit status: a plugin that
  // does not run before one that stays idle.
  std::string_view worst = "report";
  for (const CheckReport& report : reports) {
    if (!report.PluginFileFound || (!report.WouldReport && worst == "report") ||
        (report.NotRead.empty() && !report.WouldReport && worst == "unknown")) {
      worst = VerdictName(report);
    }
  }
  std::string out = "{\"verdict\":";
  out += JsonString(worst);
  out += ",\"servers_found\":";
  out += JsonIds(reports.empty() ? std::vector<std::uint32_t>() : reports.front().Origin.Found);
  out += ",\"servers\":[";
  for (std::size_t i = 0; i < reports.size(); ++i) {
    if (i != 0) out += ',';
    out += JsonReport(reports[i], showToken);
  }
  return out + "]}";
}

}  // namespace vesperline::check
