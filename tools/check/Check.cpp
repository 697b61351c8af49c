#include "tools/check/Check.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "common/Text.h"
#include "discovery/Discovery.h"
#include "heartbeat/Document.h"
#include "heartbeat/Json.h"
#include "platform/Platform.h"
#include "tools/check/Warnings.h"

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
          std::move(state)};
}

// The detail of the first note of fact, or empty text.
std::string FirstDetail(const CheckReport& report, std::string_view fact) {
  for (const SourceNote& note : report.Notes) {
    if (note.Fact == fact) return note.Detail;
  }
  return {};
}

std::string JsonString(std::string_view text) {
  std::string json(1, '"');
  json.append(EscapeJson(text)).append(1, '"');
  return json;
}

std::string JsonIds(const std::vector<std::uint32_t>& ids) {
  std::string json = "[";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i != 0) json += ',';
    json += std::to_string(ids[i]);
  }
  return json + "]";
}

std::string JsonTextOrNull(std::string_view text) {
  return text.empty() ? "null" : JsonString(text);
}

// One fact as both report forms show it.
struct FactRow {
  std::string_view Fact;     // the fact's name in the notes
  std::string_view JsonKey;  // its member name in the JSON report
  std::string Shown;         // its value for a reader, not yet made printable
  std::string Json;          // its value as JSON
};

std::vector<FactRow> FactRows(const ServerFacts& facts, bool showToken) {
  // The facts are what the plugin publishes, which holds no password.
  const auto text = [](const std::string& value) {
    return value.empty() ? std::string("(none)") : value;
  };
  const auto json = [](const std::string& value) { return JsonTextOrNull(value); };
  std::string token = showToken ? facts.Token : MaskToken(facts.Token);
  std::string shownToken = facts.Token.empty() ? "(none)"
                           : showToken         ? token
                                               : token + "  (masked; --show-token shows it)";
  return {
      {"token", "token", std::move(shownToken), JsonTextOrNull(token)},
      {"ip", "ip", text(facts.ServerIp), json(facts.ServerIp)},
      {"port", "port", std::to_string(facts.ServerPort), std::to_string(facts.ServerPort)},
      {"session name", "session_name", text(facts.SessionName), json(facts.SessionName)},
      {"map", "map", text(facts.MapName), json(facts.MapName)},
      {"player limit", "player_limit",
       facts.PlayerLimit > 0 ? std::to_string(facts.PlayerLimit) : "(none)",
       std::to_string(facts.PlayerLimit)},
      {"mods", "mods", text(facts.ModList), json(facts.ModList)},
      {"PvE", "pve", facts.IsPve ? "true" : "false", facts.IsPve ? "true" : "false"},
      {"version", "version", text(facts.ServerVersion), json(facts.ServerVersion)},
  };
}

// Appends the \u00XX escape of a control character.
void AppendEscape(std::string& out, unsigned code) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[code >> 4];
  out += kHex[code & 0x0F];
}

// Valid UTF-8 with DEL and the C1 controls (U+0080 to U+009F) escaped: JSON and EscapeJson let
// them through, and a terminal may act on them (U+009B starts a control sequence on some).
std::string EscapeDelAndC1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
    if (byte == 0x7F) {
      AppendEscape(out, byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      AppendEscape(out, next);
      ++i;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// What the report says of cmd's words dropped in front of a pasted command line.
std::string LauncherNote(std::string_view dropped) {
  return "cmd's start in front of it (" + std::string(dropped) +
         ") was dropped before reading: cmd takes start, the window title and the switches "
         "after it for itself, and starts the server with the rest.";
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

// The verdict's name in the JSON report: "report", "idle", or "not loaded" when the plugin host
// finds no plugin file to load.
std::string_view Verdict(const CheckReport& report) {
  if (report.WouldReport) return "report";
  return report.PluginFileFound ? "idle" : "not loaded";
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

}  // namespace

fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ShownPath(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), error);
  if (error) return path;
  return Utf8FromPath(absolute.lexically_normal());
}

std::string PluginDirFrom(std::string dir) {
  const bool endsWithSeparator =
      !dir.empty() && (dir.back() == platform::kPathSeparator || dir.back() == '/');
  if (!endsWithSeparator) dir.push_back(platform::kPathSeparator);
  return dir;
}

CheckReport RunCheck(const CheckInputs& inputs) {
  CheckReport report;
  const std::string& dir = inputs.PluginDir;
  report.PluginDir = dir;
  report.PluginDirIsOwnFolder = inputs.PluginDirIsOwnFolder;
  report.PluginDirOfRunningServer = inputs.PluginDirOfRunningServer;
  report.Origin = inputs.Origin;
  report.DroppedLauncher = MaskText(inputs.DroppedLauncher);
  std::error_code error;
  report.PluginDirExists = fs::is_directory(PathFromUtf8(dir), error);

  // The server's own word on its launch line: compared with a running server's command line, or
  // read in its place when there is no command line at all.
  const bool fromProcess = inputs.Origin.Source == CommandLineSource::RunningServer;
  if (fromProcess || !inputs.CommandLine) report.LogLine = ReadLogCommandLine(ServerLogPath(dir));
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
  const Discovery real =
      DiscoverServer({dir, [&] { return commandLine; }}, {.PastFailedGate = true});
  Discovery found = DiscoverServer({dir, [&] { return marked.Text; }},
                                   {.PastFailedGate = true, .WithNotes = true});
  found.Usable = real.Usable;
  found.Facts = real.Facts;
  std::optional<std::string> missingPlugin = MissingPluginFile(dir);
  report.PluginFileFound = !missingPlugin;
  if (missingPlugin) report.IdleReasons.push_back(std::move(*missingPlugin));
  report.WouldReport = found.Usable && report.PluginFileFound;
  report.Warnings = FindWarnings(dir, found, BelongingFolderNote(inputs.Origin));
  if (report.LogLine && fromProcess) {
    CompareWithTheLog(*report.LogLine, real.Launch, found.Launch);
    WarnOfADifferentLogLine(*report.LogLine, report.Origin, report.Warnings);
  }
  report.Facts = std::move(found.Facts);
  report.Notes = std::move(found.Notes);
  report.Files = {FileCheckOf("config.json", ConfigFilePath(dir), found.Config),
                  FileCheckOf("settings file", SettingsFilePath(dir), found.Settings),
                  FileCheckOf("server log", ServerLogPath(dir), found.Log)};
  const ServerFacts& facts = report.Facts;

  const FileCheck& config = report.Files[0];
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
  if (facts.Token.empty()) {
    std::string reason = "token empty: " + FirstDetail(report, "token");
    if (ExampleHoldsAToken(dir)) {
      reason +=
          "; config.example.json beside it has a token filled in, but the plugin reads only "
          "config.json: fill in the token there";
    }
    report.IdleReasons.push_back(std::move(reason));
  }
  if (facts.ServerIp.empty()) {
    report.IdleReasons.push_back("ip empty: " + FirstDetail(report, "ip"));
  }
  if (facts.ServerPort < 1) {
    std::string reason =
        "port below 1 (" + std::to_string(facts.ServerPort) +
        "): looked for in config.json \"port\", then in the launch arguments ?Port= and -port=";
    if (!inputs.CommandLine && !report.LogLine)
      reason += ", but the checker has no command line (see \"Command line\" above)";
    report.IdleReasons.push_back(std::move(reason));
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

std::string Printable(std::string_view text) {
  // EscapeJson already reads every byte that is not UTF-8 as Latin-1 and escapes C0 controls;
  // the quotes and backslashes it escapes are put back, and its short escapes take the one form.
  const std::string escaped = EscapeJson(text);
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 == escaped.size()) {
      out += escaped[i];
      continue;
    }
    const char letter = escaped[++i];
    switch (letter) {
      case 'b':
        AppendEscape(out, '\b');
        break;
      case 't':
        AppendEscape(out, '\t');
        break;
      case 'n':
        AppendEscape(out, '\n');
        break;
      case 'f':
        AppendEscape(out, '\f');
        break;
      case 'r':
        AppendEscape(out, '\r');
        break;
      case 'u':
        out += "\\u";
        break;
      default:  // '"' or '\\'
        out += letter;
    }
  }
  return EscapeDelAndC1(out);
}

std::optional<std::string> WouldSendDocument(const CheckReport& report, bool showToken,
                                             std::string_view status) {
  // The heartbeat's own guard is the start-up gate's condition; both pass or neither does.
  if (!report.WouldReport) return std::nullopt;
  ServerFacts facts = report.Facts;
  if (!showToken) facts.Token = MaskToken(facts.Token);
  return BuildHeartbeatDocument(facts, status, -1, -1, {});
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

namespace {

constexpr char kTitle[] = "vesperline-check: what the Vesperline plugin would do in this server\n";
constexpr char kSeveralTitle[] =
    "vesperline-check: what the Vesperline plugin would do in each server of this install\n";

// The report for a reader, below its title.
std::string ReportBody(const CheckReport& report, bool showToken) {
  // Every text that comes from outside (paths, the command line, the files' contents) goes
  // through Printable, so that a control sequence in a server's file cannot act on the terminal.
  std::string out = "Plugin folder  ";
  out += Printable(ShownPath(report.PluginDir));
  if (!report.PluginDirExists) out += "  (no such folder)";
  if (report.PluginDirIsOwnFolder) {
    out += "  (the folder of vesperline-check itself; --plugin-dir names another)";
  } else if (report.PluginDirOfRunningServer) {
    out += "  (the plugin folder of the one server running; --plugin-dir names another)";
  }
  out += '\n';
  out += "Command line   ";
  if (report.CommandLine) {
    out += Printable(Unmarked(*report.CommandLine, report.Mark));
    out += "\n               ";
  }
  out += Printable(OriginNote(report.Origin));
  if (!report.DroppedLauncher.empty()) {
    out += "\n               " + Printable(LauncherNote(report.DroppedLauncher));
  }
  out += '\n';
  if (report.LogLine) {
    out += "Server's log   ";
    out += Printable(report.LogLine->Shown);
    out += "\n               ";
    out += Printable(LogCommandLineNote(*report.LogLine, report.Origin));
    out += '\n';
  }

  out += "\nFiles the plugin reads\n";
  for (const FileCheck& file : report.Files) {
    out += "  " + Padded(file.Role, 14) + Printable(file.ShownPath) + "\n";
    out += "  " + Padded("", 14) + Printable(file.State) + "\n";
  }

  out += "\nFacts, each with the sources looked at in order\n";
  if (!report.PluginFileFound) {
    out +=
        "  (without its file the plugin does not run, so it gathers none of these facts; they are "
        "shown for your information)\n";
  } else if (!report.WouldReport) {
    out +=
        "  (the plugin stays idle, so it never gathers the facts below the port; they are "
        "shown for your information)\n";
  }
  for (const FactRow& row : FactRows(report.Facts, showToken)) {
    out += "  " + Padded(row.Fact, 14) + Printable(row.Shown) + "\n";
    for (const SourceNote& note : report.Notes) {
      if (note.Fact != row.Fact) continue;
      out += "      " + Padded(note.Used ? "used" : "passed over", 13) + note.Source + ": " +
             Printable(Unmarked(note.Detail, report.Mark)) + "\n";
    }
  }

  if (!report.Warnings.empty()) out += "\nWarnings\n";
  for (const std::string& warning : report.Warnings) {
    out += "  - " + Printable(Unmarked(warning, report.Mark)) + "\n";
  }

  constexpr std::string_view kReports = "report this server, with a heartbeat every minute.\n";
  if (report.WouldReport) {
    out += Enclosed("\nVerdict: the plugin would ", kReports, "");
  } else {
    const std::vector<std::string>& reasons = report.IdleReasons;
    std::size_t first = 0;
    if (!report.PluginFileFound && !reasons.empty()) {
      // What the plugin would do once its file is in place follows, so that one round of fixes
      // is enough.
      out += "\nVerdict: the plugin would not run at all, so it reports nothing, because:\n";
      out += "  - " + Printable(Unmarked(reasons.front(), report.Mark)) + "\n";
      first = 1;
      out += "With its file in place, it would ";
      out += first < reasons.size() ? "stay idle and report nothing, because:\n"
                                    : std::string(kReports);
    } else {
      out += "\nVerdict: the plugin would stay idle and report nothing, because:\n";
    }
    for (std::size_t i = first; i < reasons.size(); ++i) {
      out += "  - " + Printable(Unmarked(reasons[i], report.Mark)) + "\n";
    }
  }

  if (const std::optional<std::string> document = WouldSendDocument(report, showToken)) {
    out +=
        "\nThe heartbeat it would send now, without the live world part (players online, day "
        "and player list):\n";
    // EscapeJson has escaped the C0 controls already; DEL and C1 are valid JSON as they are.
    out += EscapeDelAndC1(PrettyJson(*document)) + "\n";
  }
  return out;
}

}  // namespace

std::string HumanReport(const CheckReport& report, bool showToken) {
  return std::string(kTitle) + "\n" + ReportBody(report, showToken);
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
    out += ReportBody(report, showToken);
    verdicts += i == 0 ? "" : "; ";
    verdicts += "process " + id +
                (report.WouldReport       ? " would report"
                 : report.PluginFileFound ? " would stay idle"
                                          : " would not run");
  }
  return out + "\nVerdicts: " + verdicts + ".\n";
}

std::string JsonReport(const CheckReport& report, bool showToken) {
  // Built by appending piece by piece: g++ 12 warns falsely about overlapping copies in chains
  // that put a literal before a temporary string.
  std::string out = "{\"plugin_dir\":";
  out += JsonString(ShownPath(report.PluginDir));
  out += ",\"plugin_dir_source\":";
  out += report.PluginDirIsOwnFolder       ? "\"checker's folder\""
         : report.PluginDirOfRunningServer ? "\"running server\""
                                           : "\"--plugin-dir\"";
  out += ",\"plugin_dir_exists\":";
  out += report.PluginDirExists ? "true" : "false";
  out += ",\"command_line\":";
  out += report.CommandLine ? JsonString(Unmarked(*report.CommandLine, report.Mark)) : "null";
  out += ",\"command_line_source\":{\"source\":";
  out += JsonString(SourceName(report.Origin.Source));
  out += ",\"process_id\":";
  out += report.Origin.Id ? std::to_string(*report.Origin.Id) : "null";
  out += ",\"servers_found\":";
  out += JsonIds(report.Origin.Found);
  out += ",\"refused_processes\":";
  out += JsonIds(report.Origin.Refused);
  out += PlaceJsonMembers(report.Origin.Place);
  out += ",\"note\":";
  out += JsonString(OriginNote(report.Origin));
  out += ",\"dropped\":";
  out += JsonTextOrNull(report.DroppedLauncher);
  out += '}';
  out += ",\"server_log_command_line\":";
  if (const std::optional<LogCommandLine>& log = report.LogLine) {
    out += "{\"line\":";
    out += JsonString(log->Shown);
    out += ",\"cut\":";
    out += log->Cut ? "true" : "false";
    out += ",\"taken\":";
    out += log->Taken ? "true" : "false";
    out += ",\"differs\":";
    out += !log->Differs ? "null" : *log->Differs ? "true" : "false";
    out += ",\"note\":";
    out += JsonString(LogCommandLineNote(*log, report.Origin));
    out += '}';
  } else {
    out += "null";
  }
  out += ",\"files\":{";
  constexpr std::string_view kFileKeys[] = {"config", "settings", "log"};
  for (std::size_t i = 0; i < report.Files.size() && i < std::size(kFileKeys); ++i) {
    const FileCheck& file = report.Files[i];
    if (i != 0) out += ',';
    out += JsonString(kFileKeys[i]);
    out += ":{\"path\":";
    out += JsonString(file.ShownPath);
    out += ",\"found\":";
    out += file.Found ? "true" : "false";
    out += ",\"encoding\":";
    out += JsonTextOrNull(file.Encoding);
    out += ",\"state\":";
    out += JsonString(file.State);
    out += '}';
  }
  out += "},\"facts\":{";
  bool firstFact = true;
  for (const FactRow& row : FactRows(report.Facts, showToken)) {
    if (!firstFact) out += ',';
    firstFact = false;
    out += JsonString(row.JsonKey);
    out += ":{\"value\":";
    out += row.Json;
    out += ",\"sources\":[";
    bool firstNote = true;
    for (const SourceNote& note : report.Notes) {
      if (note.Fact != row.Fact) continue;
      if (!firstNote) out += ',';
      firstNote = false;
      out += "{\"source\":";
      out += JsonString(note.Source);
      out += ",\"used\":";
      out += note.Used ? "true" : "false";
      out += ",\"detail\":";
      out += JsonString(Unmarked(note.Detail, report.Mark));
      out += '}';
    }
    out += "]}";
  }
  out += "},\"verdict\":";
  out += JsonString(Verdict(report));
  out += ",\"idle_reasons\":[";
  for (std::size_t i = 0; i < report.IdleReasons.size(); ++i) {
    if (i != 0) out += ',';
    out += JsonString(Unmarked(report.IdleReasons[i], report.Mark));
  }
  out += "],\"warnings\":[";
  for (std::size_t i = 0; i < report.Warnings.size(); ++i) {
    if (i != 0) out += ',';
    out += JsonString(Unmarked(report.Warnings[i], report.Mark));
  }
  out += "],\"document\":";
  out += WouldSendDocument(report, showToken).value_or("null");
  if (report.Post) {
    out += ",\"post\":";
    out += PostJson(*report.Post, showToken);
  }
  out += '}';
  return out;
}

std::string JsonReports(const std::vector<CheckReport>& reports, bool showToken) {
  if (reports.size() == 1) return JsonReport(reports.front(), showToken);
  // Several servers: the object each would have alone, in a list, so that a script reads
  // r.get("servers", [r]) either way; the verdict is the worst, as the exit status.
  std::string_view worst = "report";
  for (const CheckReport& report : reports) {
    if (!report.PluginFileFound) {
      worst = Verdict(report);
    } else if (!report.WouldReport && worst == "report") {
      worst = Verdict(report);
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
