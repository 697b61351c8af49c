#include "tools/check/find/ServerProcess.h"

#include <algorithm>
#include <system_error>

#include "common/Text.h"
#include "tools/check/text/Paths.h"

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
// How an admin gets the right to look into every process.
#if defined(_WIN32)
constexpr char kElevated[] = "as administrator";
#else
constexpr char kElevated[] = "with sudo";
#endif
constexpr char kGiveIt[] =
    "give the server's command line with --command-line or --command-line-file";

// Wine shows a program only the processes of its own prefix.
constexpr char kOtherWinePrefixes[] =
    "Under Wine the checker sees only the processes of its own Wine prefix: a server that another "
    "prefix, Proton or a container runs is not among them. Run the checker for Linux "
    "(Vesperline-<version>-linux-x64-checker.tar.gz) on the machine itself, or start this one with "
    "that server's WINEPREFIX.";

// The plugin folder, absolute and normalised, without the separator it is kept with at its end.
std::optional<fs::path> PluginFolderPath(const std::string& pluginDir) {
  std::error_code error;
  fs::path path = fs::absolute(PathFromUtf8(pluginDir), error);
  if (error) return std::nullopt;
  path = path.lexically_normal();
  if (!path.has_filename()) path = path.parent_path();
  return path;
}

// The folder the given number of levels above folder; nothing above the root.
std::optional<fs::path> LevelsAbove(fs::path folder, int levels) {
  for (int level = 0; level < levels; ++level) {
    if (!folder.has_relative_path()) return std::nullopt;
    folder = folder.parent_path();
  }
  return folder;
}

// The folders the servers of the install were looked for in, for a sentence.
std::string FoldersLookedIn(const CommandLineOrigin& origin) {
  std::string folders = origin.ServerFolder;
  if (origin.BelongingFolder.empty()) {
    return folders.empty() ? "the folder three levels above the plugin folder" : folders;
  }
  if (!folders.empty()) folders += ", nor from ";
  return folders + origin.BelongingFolder + ", where the plugin folder belongs";
}

// The processes that bear the server's name but that the system would not show, for the notes:
// empty when there are none.
std::string RefusedNote(const CommandLineOrigin& origin) {
  if (origin.Refused.empty()) return {};
  const bool one = origin.Refused.size() == 1;
  return std::string(one ? "the " : "") + ProcessList(origin.Refused) + (one ? " bears" : " bear") +
         " the server's name, but the system refused to say where " +
         (one ? "its executable lies" : "their executables lie") + " (" + origin.RefusedReason +
         "), as it does for a server running under another account: " + (one ? "it" : "each") +
         " may as well be a server of another install, so the checker does not take " +
         (one ? "it" : "them") + ". Run the checker " + kElevated + " to see where " +
         (one ? "it runs" : "they run") + " from";
}

// Where the server found runs, for the note on its command line: empty when it runs where the
// checker sees it and is no Windows program run by Wine.
std::string PlaceNote(const CommandLineOrigin& origin) {
  const ServerPlace& place = origin.Place;
  std::string note;
  if (!place.WindowsPath.empty()) {
    note = std::string(", which ") + (place.Proton ? "Proton" : "Wine") + " runs as " +
           place.WindowsPath;
    if (!place.WinePrefix.empty()) note += " in the prefix " + place.WinePrefix;
  }
  if (place.Root.empty()) return note;
  if (place.OwnMounts) {
    note += ", with mounts of its own below this machine's root folder";
  } else {
    note += place.Container.empty() ? ", in a container or chroot" : ", in the " + place.Container;
    if (!place.PathInside.empty()) note += " (as " + place.PathInside + " there)";
  }
  return note + ". The checker reads the server's files as the server sees them, through " +
         place.Root + ": the paths below are the server's own";
}

}  // namespace

bool IsServerProgram(std::string_view fileName) {
  return LowerAscii(fileName) == LowerAscii(kServerProgram);
}

std::vector<std::optional<platform::FileIdentity>> FolderIdentities(
    const std::vector<fs::path>& folders) {
  std::vector<std::optional<platform::FileIdentity>> identities;
  for (const fs::path& folder : folders) {
    identities.push_back(folder.empty() ? std::nullopt
                                        : platform::PathIdentity(Utf8FromPath(folder)));
  }
  return identities;
}

std::optional<std::size_t> WhichFolder(
    const fs::path& folder, const std::vector<std::optional<platform::FileIdentity>>& identities) {
  const std::optional<platform::FileIdentity> identity =
      platform::PathIdentity(Utf8FromPath(folder));
  if (!identity) return std::nullopt;
  for (std::size_t i = 0; i < identities.size(); ++i) {
    if (identities[i] == identity) return i;
  }
  return std::nullopt;
}

std::optional<fs::path> ServerFolderOf(const std::string& pluginDir) {
  const std::optional<fs::path> plugin = PluginFolderPath(pluginDir);
  if (!plugin) return std::nullopt;
  return LevelsAbove(*plugin, 3);
}

std::optional<fs::path> BelongingServerFolder(const std::string& pluginDir) {
  const std::optional<fs::path> plugin = PluginFolderPath(pluginDir);
  if (!plugin) return std::nullopt;
  const std::optional<fs::path> threeAbove = LevelsAbove(*plugin, 3);
  for (fs::path folder = *plugin; folder.has_relative_path();) {
    folder = folder.parent_path();
    if (LowerAscii(Utf8FromPath(folder.filename())) == "win64" &&
        LowerAscii(Utf8FromPath(folder.parent_path().filename())) == "binaries") {
      if (folder == threeAbove) return std::nullopt;
      return folder;
    }
  }
  return std::nullopt;
}

std::vector<ServerProcess> ServersRunningFrom(const std::vector<fs::path>& folders,
                                              std::vector<ServerProcess> listed) {
  std::vector<ServerProcess> found;
  const std::vector<std::optional<platform::FileIdentity>> identities = FolderIdentities(folders);
  if (std::none_of(identities.begin(), identities.end(),
                   [](const auto& identity) { return identity.has_value(); })) {
    return found;
  }
  for (ServerProcess& process : listed) {
    if (process.Refused.empty()) {
      const std::optional<std::size_t> folder =
          WhichFolder(PathFromUtf8(process.Executable).parent_path(), identities);
      if (!folder) continue;
      process.Folder = *folder;
    }
    found.push_back(std::move(process));
  }
  return found;
}

bool IsPluginFolder(const std::string& folder) {
  if (folder.empty()) return false;
  const std::optional<fs::path> serverFolder = ServerFolderOf(folder);
  const bool inServer =
      serverFolder && LowerAscii(Utf8FromPath(serverFolder->filename())) == "win64" &&
      LowerAscii(Utf8FromPath(serverFolder->parent_path().filename())) == "binaries";
  if (inServer || BelongingServerFolder(folder)) return true;
  std::error_code error;
  for (const char* file : {"Vesperline.dll", "Vesperline.so", "config.json"}) {
    if (fs::exists(PathFromUtf8(folder) / file, error)) return true;
  }
  return false;
}

std::optional<std::string> DefaultPluginFolder(const std::vector<ServerProcess>& running,
                                               std::optional<std::uint32_t> pickedId) {
  const ServerProcess* only = nullptr;
  for (const ServerProcess& process : running) {
    if (!process.Refused.empty() || (pickedId && process.Id != *pickedId)) continue;
    if (only != nullptr) return std::nullopt;
    only = &process;
  }
  if (only == nullptr) return std::nullopt;
  // The names as written: a server under Wine finds them in any case, and so does the check,
  // which reads them as the server sees them.
  return Utf8FromPath(PathFromUtf8(only->Executable).parent_path() / "ArkApi" / "Plugins" /
                      "Vesperline");
}

std::string PluginDirAsSeen(const std::string& pluginDir, const CommandLineOrigin& origin) {
  const ServerPlace& place = origin.Place;
  if (place.Root.empty() || place.PathInside.empty()) return PluginDirFrom(pluginDir);
  const std::optional<fs::path> plugin = PluginFolderPath(pluginDir);
  const fs::path from =
      PathFromUtf8(origin.InBelongingFolder ? origin.BelongingFolder : origin.ServerFolder);
  if (!plugin) return PluginDirFrom(pluginDir);
  const fs::path below = plugin->lexically_relative(from);
  if (below.empty() || *below.begin() == "..") return PluginDirFrom(pluginDir);
  const fs::path inside = PathFromUtf8(place.PathInside).parent_path();
  return PluginDirFrom(Utf8FromPath(below == "." ? inside : inside / below));
}

ServersSeen SurveyServers(const std::string& ownFolder, const std::vector<ServerProcess>& running,
                          std::optional<std::uint32_t> pickedId) {
  ServersSeen seen;
  seen.OwnFolder = ownFolder;
  for (const ServerProcess& process : running) {
    (process.Refused.empty() ? seen.Servers : seen.Refused).push_back(process);
  }
  seen.Hidden = OthersProcessesHidden();
  seen.UnderWine = RunsUnderWine();
  seen.Picked = pickedId;
  return seen;
}

std::vector<ServerLookup> ChooseRunningServers(
    CommandLineOrigin base, const std::vector<ServerProcess>& found,
    std::optional<std::uint32_t> pickedId,
    const std::function<CommandLineRead(std::uint32_t)>& read) {
  const ServerProcess* picked = nullptr;
  for (const ServerProcess& process : found) {
    (process.Refused.empty() ? base.Found : base.Refused).push_back(process.Id);
    if (!process.Refused.empty() && base.RefusedReason.empty()) {
      base.RefusedReason = process.Refused;
    }
    if (pickedId && process.Id == *pickedId) picked = &process;
  }
  base.Id = pickedId;
  base.Picked = pickedId.has_value();
  const auto readOne = [&](const ServerProcess& process) {
    ServerLookup lookup{base, std::nullopt};
    CommandLineOrigin& origin = lookup.Origin;
    origin.Id = process.Id;
    origin.InBelongingFolder = process.Folder == 1;
    origin.Place = process.Place;
    if (!process.Refused.empty()) {
      origin.Source = CommandLineSource::Refused;
      origin.Reason = process.Refused;
      return lookup;
    }
    CommandLineRead text = read(process.Id);
    if (text.Text) {
      origin.Source = CommandLineSource::RunningServer;
      lookup.CommandLine = std::move(text.Text);
    } else {
      origin.Source = text.Refused ? CommandLineSource::Refused : CommandLineSource::Unreadable;
      origin.Reason = std::move(text.Error);
    }
    return lookup;
  };
  if (pickedId) {
    if (picked != nullptr) return {readOne(*picked)};
    base.Source = CommandLineSource::NotThisInstall;
    return {ServerLookup{base, std::nullopt}};
  }
  std::vector<ServerLookup> lookups;
  for (const ServerProcess& process : found) {
    if (process.Refused.empty()) lookups.push_back(readOne(process));
  }
  if (lookups.empty()) {
    // A process refused alone is not taken: it may as well be another install's server.
    base.Source = base.Refused.empty() ? CommandLineSource::NotRunning : CommandLineSource::Refused;
    base.Reason = base.RefusedReason;
    lookups.push_back({base, std::nullopt});
  }
  return lookups;
}

std::vector<fs::path> ServerFoldersOf(const std::string& pluginDir) {
  return {ServerFolderOf(pluginDir).value_or(fs::path()),
          BelongingServerFolder(pluginDir).value_or(fs::path())};
}

std::vector<ServerLookup> LookUpRunningServers(const std::string& pluginDir,
                                               std::optional<std::uint32_t> pickedId,
                                               std::vector<ServerProcess> listed) {
  // Folder 0 is the one three levels above, folder 1 the one where the plugin folder belongs.
  const std::vector<fs::path> folders = ServerFoldersOf(pluginDir);
  CommandLineOrigin base;
  base.ServerFolder = Utf8FromPath(folders[0]);
  base.BelongingFolder = Utf8FromPath(folders[1]);
  return ChooseRunningServers(base, ServersRunningFrom(folders, std::move(listed)), pickedId,
                              ReadProcessCommandLine);
}

std::string OtherWinePrefixes() {
  return kOtherWinePrefixes;
}

std::string PlaceName(const ServerPlace& place) {
  if (place.Root.empty()) return {};
  if (!place.Container.empty()) return "the " + place.Container;
  return place.OwnMounts ? "the server's own mounts" : "the server's container or chroot";
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
  const std::string refused = RefusedNote(origin);
  std::string note;
  const std::string absent =
      origin.FromServerLog
          ? "the checker reads the launch line the server's log states instead (see \"Server's "
            "log\" below)"
          : kAbsent;
  switch (origin.Source) {
    case CommandLineSource::Option:
      return "given with --command-line";
    case CommandLineSource::File:
      note = "read from " + origin.File + " (--command-line-file)";
      if (!origin.FileLine.empty()) note += ", " + origin.FileLine;
      return note;
    case CommandLineSource::RunningServer:
      note = "read from the running server (process " + id + ")" + PlaceNote(origin);
      if (origin.Found.size() > 1) {
        note += origin.Picked ? ", picked with --server-pid among the " : ", one of the ";
        note += std::to_string(origin.Found.size()) + " servers of this install (" +
                ProcessList(origin.Found) + ")";
        if (!origin.Picked) note += ", each reported in turn; --server-pid N checks one alone";
      }
      if (origin.InBelongingFolder) {
        note += ". It runs from " + origin.BelongingFolder +
                ", where the plugin folder belongs (see Warnings)";
      }
      if (!refused.empty()) note += ". Beside it, " + refused;
      return note + ".";
    case CommandLineSource::NotRunning:
      if (origin.ServerFolder.empty() && origin.BelongingFolder.empty()) {
        note =
            "none: the plugin folder does not lie three levels below a server's folder, so no "
            "server of this install can be running; ";
        note += absent;
        note += ". Install the plugin in the server's ArkApi\\Plugins folder, or ";
        note += kGiveIt;
        return note + ".";
      }
      note = "none: no server of this install is running (no " + std::string(kServerProgram) +
             " runs from " + FoldersLookedIn(origin) + "), so ";
      note += absent;
      note += ". Run the checker while the server runs, or ";
      note += kGiveIt;
      note += ".";
      if (RunsUnderWine()) note += " " + OtherWinePrefixes();
      return note;
    case CommandLineSource::Refused:
      if (!origin.Id) {
        note = "none: no server of this install was seen running, so ";
        note += absent;
        note += "; " + refused + ", or ";
      } else if (std::find(origin.Refused.begin(), origin.Refused.end(), *origin.Id) !=
                 origin.Refused.end()) {
        note = "none: the system refused to say where the executable of process " + id +
               " (--server-pid) lies (" + origin.Reason +
               "), so the checker cannot tell whether it is a server of this install; ";
        note += absent;
        note += ". Run the checker " + std::string(kElevated) + ", or ";
      } else {
        note = "none: the system refused to show the command line of the server process " + id +
               " (" + origin.Reason +
               "), as it does when the server runs as a service under another account, so ";
        note += absent;
        note += ". Run the checker " + std::string(kElevated) + ", or ";
      }
      note += kGiveIt;
      return note + ".";
    case CommandLineSource::Unreadable:
      note = "none: the command line of the server process " + id + " could not be read (" +
             origin.Reason + "), so ";
      note += absent;
      note += ". Run the checker again, or ";
      note += kGiveIt;
      return note + ".";
    case CommandLineSource::NotThisInstall:
      note = "none: process " + id + " (--server-pid) is no server of this install: it is no " +
             std::string(kServerProgram) + " running from " + FoldersLookedIn(origin) + ". ";
      note += origin.Found.empty() ? std::string("No server of this install is running")
                                   : "The servers of this install: " + ProcessList(origin.Found);
      note += "; ";
      note += absent;
      return note + ".";
  }
  return note;
}

}  // namespace vesperline::check
