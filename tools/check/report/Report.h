// The report: one model of what the checker found, every text in it as the admin is to see it
// (passwords masked, the token masked unless asked, paths absolute), written for a reader and as
// one JSON object. Both forms are made from the same model, so they never say different things.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/check/find/ServerProcess.h"
#include "tools/check/model/Check.h"
#include "tools/check/post/Post.h"

namespace vesperline::check {

// One source of a fact, as shown.
struct ShownNote {
  std::string Source;
  bool Used = false;
  std::string Detail;
};

// One fact with its sources.
struct ShownFact {
  std::string Name;     // "token", "session name", ...
  std::string JsonKey;  // "token", "session_name", ...
  std::string Text;     // its value for a reader
  std::string Json;     // its value as JSON
  std::vector<ShownNote> Notes;
};

// One file the plugin reads.
struct ShownFile {
  std::string Role;
  std::string JsonKey;  // "config", "settings", "log"
  std::string Path;
  bool Found = false;
  std::string Encoding;
  std::string State;
};

// The server's log's line, as shown.
struct ShownLogLine {
  std::string Line;
  bool Cut = false;
  bool Taken = false;
  std::optional<bool> Differs;
  std::string Note;
};

// Everything a report says, ready to be written.
struct ShownReport {
  std::string PluginDir;
  std::string PluginDirSource;  // "--plugin-dir", "checker's folder", "running server"
  std::string PluginDirRemark;  // what the text adds after the folder; empty for none
  bool PluginDirExists = false;
  bool PluginDirRefused = false;
  // The plugin file and its version beside this checker's: the line the text shows, and for
  // JSON its name, whether it is there, its version and how that compares (PluginVersionName).
  std::string PluginFileText;
  std::string PluginFileName;
  bool PluginFileThere = false;
  std::optional<std::string> PluginVersion;
  std::string_view PluginVersionCompared;
  std::optional<std::string> CommandLine;
  std::string_view Source;  // where the command line came from, for scripts
  std::optional<std::uint32_t> ProcessId;
  std::vector<std::uint32_t> ServersFound;
  std::vector<std::uint32_t> RefusedProcesses;
  ServerPlace Place;
  std::string OriginNote;
  std::string Dropped;      // cmd's words dropped in front of a pasted line; empty for none
  std::string DroppedNote;  // the sentence about them
  std::optional<ShownLogLine> LogLine;
  std::vector<ShownFile> Files;
  std::vector<ShownFact> Facts;
  bool PluginFileFound = true;
  bool WouldReport = false;
  std::string_view Verdict;
  std::string NotRead;  // why the checker could not read the files; empty when it read them
  std::vector<std::string> IdleReasons;
  std::vector<std::string> Warnings;    // in the reading order (see ShowReport)
  std::optional<std::string> Document;  // one line of JSON
  std::optional<std::string> Post;      // the "post" member's JSON, with --post only
};

// The model of a report: every launch text with its passwords masked (each run of marks shown as
// kMaskedPassword), here and nowhere else.
ShownReport ShowReport(const CheckReport& report, bool showToken, const PostRecord* post = nullptr);

// A single-line JSON text laid out over lines with two-space indentation.
std::string PrettyJson(std::string_view json);

// The report for a reader, and the same report as one JSON object; with post, the JSON object
// holds what --post did.
std::string HumanReport(const CheckReport& report, bool showToken);
std::string JsonReport(const CheckReport& report, bool showToken, const PostRecord* post = nullptr);

// The reports of every server checked: for one server its report as above; for several, each
// server's report in turn under a heading of its own, and as JSON one object holding the worst
// verdict, the servers' ids and the list of the servers' objects.
std::string HumanReports(const std::vector<CheckReport>& reports, bool showToken);
std::string JsonReports(const std::vector<CheckReport>& reports, bool showToken);

// What the checker sees when it cannot tell which server to check (see ServersSeen): for a
// reader, and as one JSON object whose verdict is "no server chosen".
std::string HumanSurvey(const ServersSeen& seen);
std::string JsonSurvey(const ServersSeen& seen);

}  // namespace vesperline::check
