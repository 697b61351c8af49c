#include "tools/check/warnings/Warnings.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/Text.h"
#include "common/Version.h"
#include "tools/check/text/Paths.h"
#include "tools/check/warnings/FileScans.h"

namespace vesperline::check {

namespace {

namespace fs = std::filesystem;

// The plugin file. On Linux the checker looks at a Windows server run by Wine or Proton, which
// loads Vesperline.dll as on Windows; the plugin built for Linux, which only the development host
// loads, counts there too.
constexpr char kPluginFile[] = "Vesperline.dll";
#if !defined(_WIN32)
constexpr char kLinuxPluginFile[] = "Vesperline.so";
#endif

// The server's folder that holds Saved, five levels above the plugin's own.
constexpr int kLevelsToServer = 5;

// The folder the given number of levels above the plugin folder, or nothing above the root.
std::optional<fs::path> LevelsAbove(const fs::path& pluginFolder, int levels) {
  fs::path folder = pluginFolder;
  for (int level = 0; level < levels; ++level) {
    if (!folder.has_relative_path()) return std::nullopt;
    folder = folder.parent_path();
  }
  return folder;
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The plugin folder as it stands, absolute and without a trailing separator.
fs::path PluginFolder(const std::string& pluginDir) {
  fs::path folder = PathFromUtf8(ShownPath(pluginDir));
  return folder.has_filename() ? folder : folder.parent_path();
}

// The plugin folder lies where the host looks for plugins: in ArkApi\Plugins under the Win64
// folder of ShooterGame\Binaries, the names compared without regard to case as Windows does.
bool AtPluginDepth(const fs::path& pluginFolder) {
  constexpr std::string_view kAbove[] = {"plugins", "arkapi", "win64", "binaries", "shootergame"};
  fs::path folder = pluginFolder;
  for (const std::string_view name : kAbove) {
    if (!folder.has_relative_path()) return false;
    folder = folder.parent_path();
    if (LowerAscii(Utf8FromPath(folder.filename())) != name) return false;
  }
  return true;
}

// The settings file is missing, but one lies in Saved/Config/WindowsNoEditor, the folder of the
// older game, ARK: Survival Evolved, as admins copy it over from a server of that game or from a
// guide written for it. This server reads and writes its settings in WindowsServer, and so does
// the plugin. True when it warned.
bool WarnOfTheOlderGamesSettingsFolder(const std::string& pluginDir,
                                       std::vector<Warning>& warnings) {
  const std::optional<fs::path> server = LevelsAbove(PluginFolder(pluginDir), kLevelsToServer);
  if (!server) return false;
  const fs::path config = *server / "Saved" / "Config";
  const fs::path older = config / "WindowsNoEditor" / "GameUserSettings.ini";
  std::error_code error;
  if (!fs::is_regular_file(older, error)) return false;
  warnings.push_back(
      "The settings file is not at " + ShownPath(SettingsFileFound(pluginDir)) +
      ", but one lies at " + Utf8FromPath(older) +
      ": WindowsNoEditor is the folder of the older game, ARK: Survival Evolved, which this "
      "server never reads; it reads and writes its settings in WindowsServer, and so does the "
      "plugin. Stop the server, move GameUserSettings.ini (and Game.ini beside it, if there is "
      "one) from " +
      Utf8FromPath(older.parent_path()) + " to " + Utf8FromPath(config / "WindowsServer") +
      ", and start the server again. Until then, the session name, the player limit and the mods "
      "come from the launch arguments alone, and PvE counts as off.");
  return true;
}

// The settings file or the log is missing: either the plugin folder sits at the wrong depth, or
// the server has not written the file yet. Which of the two, the plugin folder's own path tells:
// a server that has never run has no Saved folder either.
void WarnOfMissingServerFiles(const std::string& pluginDir, const Discovery& found,
                              std::vector<Warning>& warnings) {
  // A link that leads nowhere stands there already (FindWarnings names it).
  bool settingsMissing = found.Settings.Failure == platform::OpenFailure::Missing &&
                         !DeadLinkAt(SettingsFileFound(pluginDir));
  const bool logMissing =
      found.Log.Failure == platform::OpenFailure::Missing && !DeadLinkAt(ServerLogFound(pluginDir));
  if (settingsMissing && WarnOfTheOlderGamesSettingsFolder(pluginDir, warnings)) {
    settingsMissing = false;
  }
  if (!settingsMissing && !logMissing) return;
  const fs::path plugin = PluginFolder(pluginDir);
  if (AtPluginDepth(plugin)) {
    // Without the plugin folder (an update removed it, say) the path from it leads nowhere, so
    // nothing tells whether the server has written its files; the report names the folder missing.
    if (!IsFolder(plugin)) return;
    const std::optional<fs::path> server = LevelsAbove(plugin, kLevelsToServer);
    if (settingsMissing && logMissing && server && !IsFolder(*server / "Saved")) {
      warnings.push_back(
          "The plugin folder is in the right place, but the server has not written its settings "
          "file and log yet (there is no Saved folder in " +
          Utf8FromPath(*server) +
          "): start the server once, then run the checker again. Until then, the session name, "
          "the player limit and the mods come from the launch arguments alone, PvE counts as off "
          "and the heartbeats carry no version.");
      return;
    }
    if (settingsMissing) {
      warnings.push_back("The settings file is not at " + ShownPath(SettingsFileFound(pluginDir)) +
                         " yet; the server writes it at its first start. Until it is there, the "
                         "session name, the player limit and the mods come from the launch "
                         "arguments alone, and PvE counts as off.");
    }
    if (logMissing) {
      warnings.push_back("The server log is not at " + ShownPath(ServerLogFound(pluginDir)) +
                         " yet; the server writes it while it runs. Until it holds the version "
                         "line, the heartbeats carry no version.");
    }
    return;
  }
  std::string warning =
      "The settings file and the server log are not where the plugin looks for them, five "
      "folders above the plugin folder (in Saved there): the plugin folder is at the wrong "
      "depth. The usual cause is unpacking the ZIP into a folder named after the ZIP.";
  const fs::path rest = fs::path("Binaries") / "Win64" / "ArkApi" / "Plugins" / "Vesperline";
  for (int levels = 1; levels <= 10; ++levels) {
    const std::optional<fs::path> above = LevelsAbove(plugin, levels);
    if (!above) break;
    if (levels != kLevelsToServer && IsFolder(*above / "Saved")) {
      warning += " The server's Saved folder is in " + Utf8FromPath(*above) +
                 ", so the plugin folder should be " + Utf8FromPath(*above / rest) + ".";
      warnings.push_back(std::move(warning));
      return;
    }
  }
  warning += " It belongs in the server's ShooterGame folder, under " + Utf8FromPath(rest) + ".";
  warnings.push_back(std::move(warning));
}

// The names of the simulated host's DLL, which the builds for tests take their host calls from,
// and of the real host's.
constexpr std::string_view kTestHostLibrary = "vesperline_simhost.dll";
constexpr std::string_view kHostLibrary = "AsaApi.dll";

// The largest plugin file looked into; a real one is far smaller.
constexpr std::uintmax_t kMaxPluginFileBytes = 64 << 20;

// The release package of this checker's version, which holds the plugin file it came with.
std::string ReleasePackage() {
  return std::string("Vesperline-") + kVersion + "-win64.zip";
}

// A plugin file built against the simulated host loads in no server: Windows finds no
// vesperline_simhost.dll there, and AsaApi never gets to call it.
void WarnOfTestBuild(const PluginFileLook& plugin, std::vector<Warning>& warnings) {
  for (const std::string& library : plugin.Imports) {
    if (LowerAscii(library) == kTestHostLibrary) {
      warnings.push_back(plugin.Name + " in the plugin folder is a build for tests: " +
                         "it takes its host calls from " + library +
                         ", the simulated host, instead of " + std::string(kHostLibrary) +
                         ", so no server can load it. Install " + kPluginFile +
                         " from a release package (Vesperline-<version>-win64.zip, not one whose "
                         "name ends in -test).");
      return;
    }
  }
}

// A number as the permission bits of a file are written: 0644.
std::string ModeText(std::uint32_t mode) {
  std::string text;
  for (int shift = 9; shift >= 0; shift -= 3)
    text += static_cast<char>('0' + ((mode >> shift) & 7));
  return text;
}

// A user or group by its name on the reader's system, else by its number.
std::string NameOrNumber(const std::string& name, std::uint32_t id) {
  return name.empty() ? std::to_string(id) : name;
}

// A command that changes a file of the server, as the admin runs it on this machine: through the
// folder this machine reaches the server's files by when the server sees its own, with the
// server's user by its numbers, since this machine may name it otherwise or not at all.
std::string FixCommand(std::string_view command, bool owner, const std::string& path) {
  const FileReader& reader = Reader();
  if (reader.Root.empty()) {
    return "sudo " + std::string(command) + (owner ? " " + reader.Owner : "") + " " + path;
  }
  return "sudo " + std::string(command) +
         (owner ? " " + std::to_string(reader.Uid) + ":" + std::to_string(reader.Gid) : "") + " " +
         reader.Root + path;
}

// Why the server's user may not read the file at path, with the remedy: the rest of a sentence
// that names the file. Empty when the files are read as the checker itself, or the system does
// not say which folder or file refuses.
std::string RefusedSentence(const std::string& path, bool withRemedy) {
  const FileReader& reader = Reader();
  if (reader.User.empty()) return {};
  const std::optional<Refusal> refusal = RefusalOn(path);
  if (!refusal) return {};
  const std::string belongs = "belongs to " +
                              NameOrNumber(UserName(refusal->Owner), refusal->Owner) + " (group " +
                              NameOrNumber(GroupName(refusal->Group), refusal->Group) +
                              ") with mode " + ModeText(refusal->Mode);
  const std::string shown = ShownPath(refusal->Path);
  std::string sentence = "cannot be read by the server's user " + reader.User + ": ";
  sentence += refusal->Folder
                  ? "the folder " + shown + " on the way " + belongs + ", which keeps that user out"
                  : "it " + belongs + ", which does not let that user read it";
  if (!withRemedy) return sentence;
  if (refusal->Folder) {
    sentence += ". Let every user enter it (" + FixCommand("chmod 755", false, shown) +
                ") or give it to that user (" + FixCommand("chown", true, shown) + ")";
  } else {
    sentence += ". Give it to that user (" + FixCommand("chown", true, shown) +
                ") or let every user read it (" + FixCommand("chmod 644", false, shown) + ")";
  }
  if (!reader.Root.empty()) {
    sentence += "; " + reader.Root + " stands for the server's root folder while it runs";
  }
  return sentence;
}

// A plugin file of another version than the checker's: the checker predicts what its own version
// of the plugin does, and an older plugin is what an update leaves behind when it was unpacked
// while the server ran.
void WarnOfPluginVersion(const PluginFileLook& plugin, std::vector<Warning>& warnings) {
  const std::string own = kVersion;
  const std::string update =
      ": the server loads that plugin, not the one this checker came with. An update unpacked "
      "while the server ran leaves the old file behind, as Windows lets no program replace the "
      "file of a plugin in use. Stop the server, copy " +
      std::string(kPluginFile) + " from " + ReleasePackage() +
      " into the plugin folder, and start the server again.";
  switch (CompareWithChecker(plugin)) {
    case PluginVersion::NoDll:
      warnings.push_back(plugin.Name +
                         " in the plugin folder is no Windows DLL, or one cut short: its bytes do "
                         "not begin as a DLL's do, or end before the parts its header lists (a "
                         "download or a copy that broke off, say, or another file saved under its "
                         "name), so the plugin host cannot load it. Install " +
                         kPluginFile + " again from the release package (" + ReleasePackage() +
                         ").");
      return;
    case PluginVersion::NoVersion:
      warnings.push_back(plugin.Name +
                         " in the plugin folder carries no version, so it is a build from before "
                         "plugin files carried one, older than this checker's " +
                         own + update);
      return;
    case PluginVersion::Older:
      warnings.push_back(plugin.Name + " in the plugin folder is version " +
                         VersionText(*plugin.Version) + ", older than this checker's " + own +
                         update);
      return;
    case PluginVersion::Newer: {
      const std::string theirs = VersionText(*plugin.Version);
#if defined(_WIN32)
      const std::string checker = "vesperline-check.exe from Vesperline-" + theirs + "-win64.zip";
#else
      const std::string checker =
          "vesperline-check from Vesperline-" + theirs + "-linux-x64-checker.tar.gz";
#endif
      warnings.push_back(plugin.Name + " in the plugin folder is version " + theirs +
                         ", newer than this checker's " + own +
                         ": this report tells what the plugin of version " + own +
                         " would do, which may differ. Run the checker that came with the "
                         "plugin: " +
                         checker + ".");
      return;
    }
    default:
      return;
  }
}

// What stands at the path of a file the plugin could not open, with a link's target in front.
std::string LinkedState(const std::string& path, const FileRead& read) {
  const std::optional<Link> link = LinkAt(path);
  if (link && link->ToOwnStream) {
    return "a link to " + link->Target + ", the output of whichever program opens it, not a file";
  }
  const bool notAFile = read.Failure == platform::OpenFailure::Directory ||
                        read.Failure == platform::OpenFailure::Device ||
                        read.Failure == platform::OpenFailure::Pipe;
  if (link && notAFile) return "a link to " + link->Target + ", " + FileState(read);
  if (AccessRefused(read)) {
    const std::string refused = RefusedSentence(path, false);
    if (!refused.empty()) return refused;
  }
  return FileState(read);
}

// The plugin can never read a file there, whoever looks: a folder, a device, a pipe, or a link
// to the output of whichever program opens it.
bool IsNoFile(const std::string& path, const FileRead& read) {
  return read.Failure == platform::OpenFailure::Directory ||
         read.Failure == platform::OpenFailure::Device ||
         read.Failure == platform::OpenFailure::Pipe || IsOwnStreamLink(path);
}

constexpr std::string_view kNoVersion = ": the plugin never reads the game version from it";

// The log is the one place the version comes from. Container images link the log to their own
// output, so that the server's log shows there; the server then writes into a pipe or a terminal,
// which the plugin never reads, so no heartbeat ever carries the version.
void WarnOfLogThatIsNoFile(const std::string& path, const FileRead& read,
                           std::vector<Warning>& warnings) {
  const std::optional<Link> link = LinkAt(path);
  const std::string what = link                                               ? "the link"
                           : read.Failure == platform::OpenFailure::Directory ? "the folder"
                           : read.Failure == platform::OpenFailure::Pipe      ? "the pipe"
                                                                              : "the device";
  std::string warning = "The server log at " + ShownPath(path) + " " +
                        NotOpenedSentence(path, read) +
                        ", so the plugin never reads the game version from it: the heartbeat's "
                        "name carries no \"(v...)\" and \"version\" is left out. Let the server "
                        "write a real log file there: delete " +
                        what + ", and the server creates the file in its place";
  warning += link ? " (to see the log in a container's output, follow that file with tail -F "
                    "rather than link it)."
                  : ".";
  warnings.push_back(std::move(warning));
}

// The log as the checker found it, where that differs from what the plugin in the server finds:
// through a link to the output of whichever program opens it, the checker reads its own output
// (a file when the report is saved to one) and might even find a version in an earlier report.
// The notes of the version are made to say why no log gives it.
void AmendLogThatIsNoFile(const std::string& path, Discovery& found) {
  if (found.Log.Opened && IsOwnStreamLink(path)) {
    found.Log = FileRead{};
    found.Log.Failure = platform::OpenFailure::Other;
    found.Facts.ServerVersion.clear();
  }
  if (found.Log.Opened || !IsNoFile(path, found.Log)) return;
  for (SourceNote& note : found.Notes) {
    if (note.Fact != "version") continue;
    note.Used = false;
    note.Detail = "not read: the log is no file (see Warnings)";
  }
}

}  // namespace

std::string PluginFileIn(const std::string& pluginDir) {
#if !defined(_WIN32)
  std::error_code error;
  if (!fs::exists(PathFromUtf8(pluginDir) / kPluginFile, error) &&
      fs::exists(PathFromUtf8(pluginDir) / kLinuxPluginFile, error)) {
    return kLinuxPluginFile;
  }
#else
  (void)pluginDir;
#endif
  return kPluginFile;
}

std::vector<std::string> PluginFileCopies(const std::string& pluginDir) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator entries(PathFromUtf8(pluginDir), error);
  for (int seen = 0; !error && entries != fs::directory_iterator() && seen < 1000; ++seen) {
    const std::string name = Utf8FromPath(entries->path().filename());
    std::error_code kind;
    if (!PluginFileOfCopy(name).empty() && entries->is_regular_file(kind)) names.push_back(name);
    entries.increment(error);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string PluginFileOfCopy(const std::string& name) {
#if defined(_WIN32)
  constexpr std::string_view kPlugins[] = {kPluginFile};
#else
  constexpr std::string_view kPlugins[] = {kPluginFile, kLinuxPluginFile};
#endif
  const std::string lowered = LowerAscii(name);
  for (const std::string_view plugin : kPlugins) {
    if (name == plugin) return {};
    // "Vesperline.dll.disabled", "old Vesperline.dll", and the copies a browser or a release
    // names "Vesperline (1).dll" or "Vesperline-0.2.0.dll". The simulated host's DLL in a package
    // for tests, "vesperline_simhost.dll", is none.
    const std::string file = LowerAscii(plugin);
    const std::string stem = file.substr(0, file.find('.'));
    const std::string extension = file.substr(file.find('.'));
    if (lowered.find(file) != std::string::npos ||
        ((lowered.starts_with(stem + " (") || lowered.starts_with(stem + "-")) &&
         lowered.ends_with(extension))) {
      return std::string(plugin);
    }
  }
  return {};
}

PluginFileLook LookAtPluginFile(const std::string& pluginDir) {
  PluginFileLook plugin;
  plugin.Name = PluginFileIn(pluginDir);
  const std::string path = Utf8FromPath(PathFromUtf8(pluginDir) / PathFromUtf8(plugin.Name));
  std::error_code error;
  plugin.Found = fs::is_regular_file(PathFromUtf8(path), error);
  const std::uintmax_t size = fs::file_size(PathFromUtf8(path), error);
  if (!plugin.Found || error || size > kMaxPluginFileBytes) return plugin;
  const std::optional<std::string> image = ReadFileBytes(path);
  if (!image) return plugin;
  plugin.Read = true;
  plugin.WindowsDll = IsWholePeImage(*image);
  plugin.Imports = ImportedLibraries(*image);
  plugin.Version = ImageVersion(*image);
  return plugin;
}

FileVersion CheckerVersion() {
  return FileVersion{{kVersionParts[0], kVersionParts[1], kVersionParts[2], kVersionParts[3]}};
}

PluginVersion CompareWithChecker(const PluginFileLook& plugin) {
  if (!plugin.Found) return PluginVersion::NotFound;
  if (!plugin.Read) return PluginVersion::NotRead;
#if !defined(_WIN32)
  if (!plugin.WindowsDll && plugin.Name == kLinuxPluginFile) return PluginVersion::LinuxBuild;
#endif
  if (!plugin.WindowsDll) return PluginVersion::NoDll;
  if (!plugin.Version) return PluginVersion::NoVersion;
  const FileVersion own = CheckerVersion();
  return *plugin.Version < own   ? PluginVersion::Older
         : *plugin.Version > own ? PluginVersion::Newer
                                 : PluginVersion::Same;
}

std::optional<std::string> MissingPluginFile(const std::string& pluginDir) {
  const std::string plugin = PluginFileIn(pluginDir);
  std::error_code error;
  if (fs::is_regular_file(PathFromUtf8(pluginDir) / PathFromUtf8(plugin), error)) {
    return std::nullopt;
  }
  std::string reason = plugin +
                       " is not in the plugin folder: the plugin host loads the plugin from "
                       "there, so the plugin does not run at all";
  // A plugin is disabled by renaming its file, and a renamed file is all that is missing.
  const std::vector<std::string> copies = PluginFileCopies(pluginDir);
  const auto rename = [](const std::string& copy) {
    return "(in a command prompt in the plugin folder: ren \"" + copy + "\" " +
           PluginFileOfCopy(copy);
  };
  if (copies.size() == 1) {
    reason += ", but " + copies.front() +
              " lies there, renamed so that the host passes it over: rename it back to " +
              PluginFileOfCopy(copies.front()) + " " + rename(copies.front()) + ")";
  } else if (!copies.empty()) {
    reason += ", but " + Listed(copies) +
              " lie there, renamed so that the host passes them over: rename the one to run "
              "back " +
              rename(copies.back()) + ", say)";
  } else {
    reason += ": install it from the release package (Vesperline-<version>-win64.zip)";
  }
  return reason;
}

bool IsTrueOrFalse(std::string_view value) {
  const std::string word = LowerAscii(value);
  return word == "true" || word == "false";
}

std::string PveNeitherTrueNorFalse(std::string_view value) {
  return Enclosed(
      "the plugin counts only True (in any case) as PvE, so the heartbeat says the server is not "
      "PvE; what the server itself makes of \"",
      value, "\" is not known");
}

std::string NotUtf8Warning(std::string_view role, std::size_t line) {
  return std::string(role) + " is not saved as UTF-8 (line " + std::to_string(line) +
         " holds bytes that are no UTF-8; Notepad calls that \"ANSI\"), so characters outside "
         "ASCII reach the server list wrongly. Save it as UTF-8.";
}

std::string DeadLinkState(const DeadLink& dead) {
  const std::string& where = Reader().Where;
  const std::string link = "a link to " + dead.Target;
  switch (dead.End) {
    case DeadEnd::FromTheRoot:
      return link + ", which leads nowhere in " + where +
             ": the server looks an absolute target up from its own root folder, and nothing is "
             "there (this machine's " +
             dead.Target + " is out of its reach)";
    case DeadEnd::AboveTheRoot:
      return link + ", which leads out of the root folder of " + where +
             ": the server's \"..\" stop at that root, and nothing is where they leave it (this "
             "machine's files are out of its reach)";
    case DeadEnd::Nowhere:
      break;
  }
  return link + ", which leads nowhere: nothing is there" + (where.empty() ? "" : " in " + where);
}

std::string ConfigFolderCause(const std::string& path) {
  std::error_code error;
  if (!fs::is_empty(PathFromUtf8(path), error) || error) return {};
  return ". An empty folder named config.json is what Docker leaves when it is told to mount a "
         "file that is missing on the host (docker run -v HOST-FILE:" +
         ShownPath(path) +
         ", or a compose file's volumes): it makes HOST-FILE a folder and mounts that. Remove the "
         "folder on the host, write config.json in its place (copy config.example.json and fill "
         "it in), and create the container again; without Docker, remove the folder and write "
         "config.json in its place";
}

std::string FileState(std::string_view role, const std::string& path, const FileRead& read) {
  if (read.Failure == platform::OpenFailure::Missing && !read.Opened) {
    if (const std::optional<DeadLink> dead = DeadLinkAt(path)) return DeadLinkState(*dead);
  }
  if (read.Opened || read.Failure == platform::OpenFailure::Missing) return FileState(read);
  std::string state = LinkedState(path, read);
  if (role == "server log" && IsNoFile(path, read)) state += kNoVersion;
  return state;
}

std::string NotOpenedSentence(const std::string& path, const FileRead& read) {
  if (AccessRefused(read)) {
    const std::string refused = RefusedSentence(path, true);
    if (!refused.empty()) return refused;
  }
  if (read.Failure != platform::OpenFailure::Other || read.FailureMessage.empty() ||
      HeldOpen(read)) {
    return "is " + LinkedState(path, read);
  }
  std::string_view message = read.FailureMessage;
  if (message.ends_with('.')) message.remove_suffix(1);
  return Enclosed("cannot be read (the system says: ", message, ")");
}

std::vector<Warning> FindWarnings(const std::string& pluginDir, Discovery& found,
                                  const PluginFileLook& plugin, const std::string& besideDepth) {
  std::vector<Warning> warnings;
  AmendLogThatIsNoFile(ServerLogFound(pluginDir), found);
  // A missing plugin file is no warning but the verdict (see MissingPluginFile).
  WarnOfTestBuild(plugin, warnings);
  WarnOfPluginVersion(plugin, warnings);
  if (found.Config.Failure == platform::OpenFailure::Missing) {
    WarnOfHiddenExtension(pluginDir, warnings);
  }

  const struct {
    const char* Role;
    std::string Path;
    const FileRead& Read;
  } files[] = {{"config.json", ConfigFileFound(pluginDir), found.Config},
               {"The settings file", SettingsFileFound(pluginDir), found.Settings},
               {"The server log", ServerLogFound(pluginDir), found.Log}};
  for (const auto& file : files) {
    if (file.Read.Opened && file.Read.Encoding == TextEncoding::Utf16Be) {
      warnings.push_back(std::string(file.Role) +
                         " is saved as UTF-16 big-endian, which the plugin does not read, so "
                         "every value in it counts as absent. Save it as UTF-8, or as \"Unicode\" "
                         "in Notepad.");
    } else if (file.Read.Failure == platform::OpenFailure::Missing && &file.Read != &found.Config) {
      // A link that leads nowhere is no file the server has yet to write.
      if (const std::optional<DeadLink> dead = DeadLinkAt(file.Path)) {
        warnings.push_back(std::string(file.Role) + " at " + ShownPath(file.Path) + " is " +
                           DeadLinkState(*dead) + "; the plugin counts it as missing.");
      }
    } else if (file.Read.Opened || file.Read.Failure == platform::OpenFailure::Missing) {
      continue;
    } else if (&file.Read == &found.Log && IsNoFile(file.Path, file.Read)) {
      WarnOfLogThatIsNoFile(file.Path, file.Read, warnings);
    } else {
      std::string warning = std::string(file.Role) + " at " + ShownPath(file.Path) + " " +
                            NotOpenedSentence(file.Path, file.Read) +
                            "; the plugin counts it as missing.";
      // The log is read again at every heartbeat while it gives no version; the other two only
      // at start.
      if (HeldOpen(file.Read) && &file.Read != &found.Log) {
        warning.pop_back();
        warning += Enclosed(": ", kCloseTheHolder, ", since the plugin reads it only at start.");
      }
      warnings.push_back(std::move(warning));
    }
  }
  WarnOfMissingServerFiles(pluginDir, found, warnings);
  if (!besideDepth.empty()) warnings.push_back({besideDepth, WarningWeight::kAside});

  if (found.Gate.FileFound && found.Config.Encoding != TextEncoding::Utf16Be) {
    WarnOfConfigValues(pluginDir, found, warnings);
  }
  if (found.Settings.Opened && found.Settings.Encoding != TextEncoding::Utf16Be) {
    WarnOfSettingsLines(pluginDir, found, warnings);
  }
  WarnOfLaunchLine(found, warnings);
  WarnOfAnUnclearPveOption(found, warnings);
  if (found.Facts.ServerPort > 65535) {
    warnings.push_back("The port is " + std::to_string(found.Facts.ServerPort) +
                       ", above 65535, the highest port there is: no player can connect there.");
  }
  return warnings;
}

}  // namespace vesperline::check
