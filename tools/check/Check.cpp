#include "tools/check/Check.h"

#include <filesystem>
#include <system_error>

#include "discovery/ConfigFile.h"
#include "discovery/ServerFile.h"
#include "discovery/ServerInfo.h"
#include "heartbeat/Document.h"
#include "heartbeat/Json.h"
#include "platform/Platform.h"

namespace vesperline::check {

namespace {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The path the plugin opens, as an admin would look for it: absolute, without "." and "..".
std::string ShownPath(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), error);
  if (error) return path;
  return Utf8FromPath(absolute.lexically_normal());
}

// Whether the file opens as the plugin opens it, and how its first bytes say it is encoded. Only
// the first bytes are read: the log may be gigabytes long.
FileCheck Probe(std::string role, const std::string& path) {
  FileCheck file{std::move(role), path, ShownPath(path), false, ""};
  platform::InputFile input(path);
  if (!input.IsOpen()) return file;
  char head[3];
  std::size_t got = 0;
  while (got < sizeof head) {
    const std::size_t read = input.Read(head + got, sizeof head - got);
    if (read == 0) break;
    got += read;
  }
  file.Found = true;
  file.Encoding = TextEncodingName(DetectTextEncoding(std::string_view(head, got)));
  return file;
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

std::string JsonTextOrNull(std::string_view text) {
  return text.empty() ? "null" : JsonString(text);
}

// One fact as both report forms show it.
struct FactRow {
  std::string_view Fact;     // the fact's name in the notes
  std::string_view JsonKey;  // its member name in the JSON report
  std::string Shown;         // its value for a reader
  std::string Json;          // its value as JSON
};

std::vector<FactRow> FactRows(const ServerFacts& facts, bool showToken) {
  const auto text = [](const std::string& value) {
    return value.empty() ? std::string("(none)") : value;
  };
  std::string token = showToken ? facts.Token : MaskToken(facts.Token);
  std::string shownToken = facts.Token.empty() ? "(none)"
                           : showToken         ? token
                                               : token + "  (masked; --show-token shows it)";
  return {
      {"token", "token", std::move(shownToken), JsonTextOrNull(token)},
      {"ip", "ip", text(facts.ServerIp), JsonTextOrNull(facts.ServerIp)},
      {"port", "port", std::to_string(facts.ServerPort), std::to_string(facts.ServerPort)},
      {"session name", "session_name", text(facts.SessionName), JsonTextOrNull(facts.SessionName)},
      {"map", "map", text(facts.MapName), JsonTextOrNull(facts.MapName)},
      {"player limit", "player_limit",
       facts.PlayerLimit > 0 ? std::to_string(facts.PlayerLimit)
                             : "(none: " + std::to_string(facts.PlayerLimit) + ")",
       std::to_string(facts.PlayerLimit)},
      {"mods", "mods", text(facts.ModList), JsonTextOrNull(facts.ModList)},
      {"PvE", "pve", facts.IsPve ? "true" : "false", facts.IsPve ? "true" : "false"},
      {"version", "version", text(facts.ServerVersion), JsonTextOrNull(facts.ServerVersion)},
  };
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

}  // namespace

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
  report.CommandLine = inputs.CommandLine;
  std::error_code error;
  report.PluginDirExists = fs::is_directory(PathFromUtf8(dir), error);

  // The plugin's start-up, step by step: config.json and the gate, then the descriptive facts.
  ServerFacts& facts = report.Facts;
  const std::string configPath = dir + std::string(kConfigFileName);
  TextEncoding encoding = TextEncoding::Plain;
  const std::optional<std::string> configText = ReadServerFile(configPath, &encoding);
  report.Files.push_back({"config.json", configPath, ShownPath(configPath), configText.has_value(),
                          configText ? std::string(TextEncodingName(encoding)) : ""});
  const std::string commandLine = inputs.CommandLine.value_or("");
  ConfigSources configSources;
  report.WouldReport = ApplyConfig(
      facts, configText, [&] { return commandLine; }, &configSources);
  SourceNotes notes(&report.Notes);
  AddConfigNotes(configSources, facts, notes);

  const DiscoveryInputs discovery{commandLine, SettingsFilePath(dir), ServerLogPath(dir)};
  report.Files.push_back(Probe("settings file", discovery.SettingsFile));
  report.Files.push_back(Probe("server log", discovery.ServerLog));
  CollectServerInfoFrom(facts, discovery, &report.Notes);

  if (!configText) {
    report.IdleReasons.push_back("no config.json at " + report.Files[0].ShownPath);
    return report;
  }
  if (facts.Token.empty()) {
    report.IdleReasons.push_back("token empty: " + FirstDetail(report, "token"));
  }
  if (facts.ServerIp.empty()) {
    report.IdleReasons.push_back("ip empty: " + FirstDetail(report, "ip"));
  }
  if (facts.ServerPort < 1) {
    std::string reason =
        "port below 1 (" + std::to_string(facts.ServerPort) +
        "): looked for in config.json \"port\", then in the launch arguments ?Port= and -port=";
    if (!inputs.CommandLine) reason += ", but no command line was given to the checker";
    report.IdleReasons.push_back(std::move(reason));
  }
  return report;
}

std::string MaskToken(std::string_view token) {
  // Characters, not bytes: a UTF-8 sequence is kept whole or masked whole.
  std::vector<std::string_view> characters;
  for (std::size_t i = 0; i < token.size();) {
    std::size_t end = i + 1;
    while (end < token.size() && (static_cast<unsigned char>(token[end]) & 0xC0) == 0x80) ++end;
    characters.push_back(token.substr(i, end - i));
    i = end;
  }
  const std::size_t count = characters.size();
  if (count < 8) return std::string(count, '*');
  std::string masked;
  masked.append(characters[0]).append(characters[1]);
  masked.append(count - 4, '*');
  masked.append(characters[count - 2]).append(characters[count - 1]);
  return masked;
}

std::optional<std::string> WouldSendDocument(const CheckReport& report, bool showToken) {
  // The heartbeat's own guard is the start-up gate's condition; both pass or neither does.
  if (!report.WouldReport) return std::nullopt;
  ServerFacts facts = report.Facts;
  if (!showToken) facts.Token = MaskToken(facts.Token);
  return BuildHeartbeatDocument(facts, "online", -1, -1, {});
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

std::string HumanReport(const CheckReport& report, bool showToken, bool rawDocument) {
  std::string out = "vesperline-check: what the Vesperline plugin would do in this server\n\n";
  out += "Plugin folder  " + ShownPath(report.PluginDir) +
         (report.PluginDirExists ? "\n" : "  (no such folder)\n");
  if (report.CommandLine) {
    out += "Command line   " + *report.CommandLine + "\n";
  } else {
    out +=
        "Command line   none given: every launch argument counts as absent. Give the server's "
        "command line with --command-line to check them.\n";
  }

  out += "\nFiles the plugin reads\n";
  for (const FileCheck& file : report.Files) {
    out += "  " + Padded(file.Role, 14) + file.ShownPath + "\n";
    out += "  " + Padded("", 14) +
           (file.Found ? "found, read as " + file.Encoding : std::string("not found")) + "\n";
  }

  out += "\nFacts, each with the sources looked at in order\n";
  if (!report.WouldReport) {
    out +=
        "  (the plugin stays idle, so it never gathers the facts below the port; they are "
        "shown for your information)\n";
  }
  for (const FactRow& row : FactRows(report.Facts, showToken)) {
    out += "  " + Padded(row.Fact, 14) + row.Shown + "\n";
    for (const SourceNote& note : report.Notes) {
      if (note.Fact != row.Fact) continue;
      out += "      " + Padded(note.Used ? "used" : "passed over", 13) + note.Source + ": " +
             note.Detail + "\n";
    }
  }

  if (report.WouldReport) {
    out += "\nVerdict: the plugin would report this server, with a heartbeat every minute.\n";
  } else {
    out += "\nVerdict: the plugin would stay idle and report nothing, because:\n";
    for (const std::string& reason : report.IdleReasons) out += "  - " + reason + "\n";
  }

  if (const std::optional<std::string> document = WouldSendDocument(report, showToken)) {
    out +=
        "\nThe heartbeat it would send now, without the live world part (players online, day "
        "and player list):\n";
    out += (rawDocument ? *document : PrettyJson(*document)) + "\n";
  }
  return out;
}

std::string JsonReport(const CheckReport& report, bool showToken) {
  // Built by appending piece by piece: g++ 12 warns falsely about overlapping copies in chains
  // that put a literal before a temporary string.
  std::string out = "{\"plugin_dir\":";
  out += JsonString(ShownPath(report.PluginDir));
  out += ",\"plugin_dir_exists\":";
  out += report.PluginDirExists ? "true" : "false";
  out += ",\"command_line\":";
  out += report.CommandLine ? JsonString(*report.CommandLine) : "null";
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
      out += JsonString(note.Detail);
      out += '}';
    }
    out += "]}";
  }
  out += "},\"verdict\":";
  out += report.WouldReport ? "\"report\"" : "\"idle\"";
  out += ",\"idle_reasons\":[";
  for (std::size_t i = 0; i < report.IdleReasons.size(); ++i) {
    if (i != 0) out += ',';
    out += JsonString(report.IdleReasons[i]);
  }
  out += "],\"document\":";
  out += WouldSendDocument(report, showToken).value_or("null");
  out += '}';
  return out;
}

}  // namespace vesperline::check
