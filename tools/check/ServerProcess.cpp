#include "tools/check/ServerProcess.h"

#include <system_error>

#include "tools/check/Check.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

std::string ProcessList(const std::vector<std::uint32_t>& ids) {
  std::string list = ids.size() == 1 ? "process " : "processes ";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i != 0) list += ", ";
    list += std::to_string(ids[i]);
  }
  return list;
}

constexpr char kAbsent[] = "every launch argument counts as absent";
constexpr char kGiveIt[] =
    "give the server's command line with --command-line or --command-line-file";

}  // namespace

std::optional<fs::path> ServerFolderOf(const std::string& pluginDir) {
  std::error_code error;
  fs::path path = fs::absolute(PathFromUtf8(pluginDir), error);
  if (error) return std::nullopt;
  path = path.lexically_normal();
  // The plugin folder is kept with a separator at its end, which leaves its last name empty.
  if (!path.has_filename()) path = path.parent_path();
  for (int level = 0; level < 3; ++level) {
    if (!path.has_relative_path()) return std::nullopt;
    path = path.parent_path();
  }
  return path;
}

ServerLookup ChooseRunningServer(const std::string& serverFolder,
                                 const std::vector<ServerProcess>& found,
                                 std::optional<std::uint32_t> pickedId,
                                 const std::function<CommandLineRead(std::uint32_t)>& read) {
  ServerLookup lookup;
  CommandLineOrigin& origin = lookup.Origin;
  origin.ServerFolder = serverFolder;
  for (const ServerProcess& process : found) origin.Found.push_back(process.Id);
  origin.Id = pickedId;
  const ServerProcess* chosen = nullptr;
  if (pickedId) {
    for (const ServerProcess& process : found) {
      if (process.Id == *pickedId) chosen = &process;
    }
    if (chosen == nullptr) {
      origin.Source = CommandLineSource::NotThisInstall;
      return lookup;
    }
  } else if (found.size() == 1) {
    chosen = &found.front();
    origin.Id = chosen->Id;
  } else {
    // With several servers, whichever the checker took could be another than the admin means.
    origin.Source = found.empty() ? CommandLineSource::NotRunning : CommandLineSource::Several;
    return lookup;
  }
  if (!chosen->Refused.empty()) {
    origin.Source = CommandLineSource::Refused;
    origin.Reason = chosen->Refused;
    return lookup;
  }
  CommandLineRead text = read(chosen->Id);
  if (text.Text) {
    origin.Source = CommandLineSource::RunningServer;
    lookup.CommandLine = std::move(text.Text);
  } else {
    origin.Source = text.Refused ? CommandLineSource::Refused : CommandLineSource::Unreadable;
    origin.Reason = std::move(text.Error);
  }
  return lookup;
}

ServerLookup LookUpRunningServer(const std::string& pluginDir,
                                 std::optional<std::uint32_t> pickedId) {
  const std::optional<fs::path> folder = ServerFolderOf(pluginDir);
  if (!folder) {
    ServerLookup lookup;
    lookup.Origin.Id = pickedId;
    lookup.Origin.Source =
        pickedId ? CommandLineSource::NotThisInstall : CommandLineSource::NotRunning;
    return lookup;
  }
  return ChooseRunningServer(Utf8FromPath(*folder), FindProcessesIn(*folder), pickedId,
                             ReadProcessCommandLine);
}

std::string_view SourceName(CommandLineSource source) {
  switch (source) {
    case CommandLineSource::Option:
      return "--command-line";
    case CommandLineSource::File:
      return "--command-line-file";
    case CommandLineSource::RunningServer:
      return "running server";
    case CommandLineSource::NotRunning:
      return "no server running";
    case CommandLineSource::Several:
      return "several servers running";
    case CommandLineSource::Refused:
      return "access refused";
    case CommandLineSource::Unreadable:
      return "unreadable";
    case CommandLineSource::NotThisInstall:
      return "not a server of this install";
  }
  return "";
}

std::string OriginNote(const CommandLineOrigin& origin) {
  const std::string id = origin.Id ? std::to_string(*origin.Id) : "";
  const std::string from = origin.ServerFolder.empty()
                               ? "the folder three levels above the plugin folder"
                               : origin.ServerFolder;
  std::string note;
  switch (origin.Source) {
    case CommandLineSource::Option:
      return "given with --command-line";
    case CommandLineSource::File:
      return "read from " + origin.File + " (--command-line-file)";
    case CommandLineSource::RunningServer:
      return "read from the running server (process " + id + ")";
    case CommandLineSource::NotRunning:
      if (origin.ServerFolder.empty()) {
        note =
            "none: the plugin folder does not lie three levels below a server's folder, so no "
            "server of this install can be running; ";
        note += kAbsent;
        note += ". Install the plugin in the server's ArkApi\\Plugins folder, or ";
        note += kGiveIt;
        return note + ".";
      }
      note = "none: no server of this install is running (no process runs from " + from + "), so ";
      note += kAbsent;
      note += ". Run the checker while the server runs, or ";
      note += kGiveIt;
      return note + ".";
    case CommandLineSource::Several:
      note = "none: " + std::to_string(origin.Found.size()) +
             " servers of this install are running (" + ProcessList(origin.Found) +
             "), and the checker takes none of them, so ";
      note += kAbsent;
      return note + ". Pick one with --server-pid, or give its command line with --command-line.";
    case CommandLineSource::Refused:
      note = "none: the system refused to show the command line of the server process " + id +
             " (" + origin.Reason +
             "), as it does when the server runs as a service under another account, so ";
      note += kAbsent;
      note += ". Run the checker as administrator, or ";
      note += kGiveIt;
      return note + ".";
    case CommandLineSource::Unreadable:
      note = "none: the command line of the server process " + id + " could not be read (" +
             origin.Reason + "), so ";
      note += kAbsent;
      note += ". Run the checker again, or ";
      note += kGiveIt;
      return note + ".";
    case CommandLineSource::NotThisInstall:
      note = "none: process " + id +
             " (--server-pid) is no server of this install: it does not run "
             "from " +
             from + ". ";
      note += origin.Found.empty() ? std::string("No server of this install is running")
                                   : "The servers of this install: " + ProcessList(origin.Found);
      note += "; ";
      note += kAbsent;
      return note + ".";
  }
  return note;
}

}  // namespace vesperline::check
