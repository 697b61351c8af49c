#include "tools/check/Warnings.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/Text.h"
#include "tools/check/Check.h"
#include "tools/check/FileScans.h"

namespace vesperline::check {

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kPluginFile[] = "Vesperline.dll";
#else
constexpr char kPluginFile[] = "Vesperline.so";
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

// The settings file or the log is missing: either the plugin folder sits at the wrong depth, or
// the server has not written the file yet. Which of the two, the plugin folder's own path tells:
// a server that has never run has no Saved folder either.
void WarnOfMissingServerFiles(const std::string& pluginDir, const Discovery& found,
                              std::vector<std::string>& warnings) {
  const bool settingsMissing = found.Settings.Failure == platform::OpenFailure::Missing;
  const bool logMissing = found.Log.Failure == platform::OpenFailure::Missing;
  if (!settingsMissing && !logMissing) return;
  const fs::path plugin = PluginFolder(pluginDir);
  if (AtPluginDepth(plugin)) {
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
      warnings.push_back("The settings file is not at " + ShownPath(SettingsFilePath(pluginDir)) +
                         " yet; the server writes it at its first start. Until it is there, the "
                         "session name, the player limit and the mods come from the launch "
                         "arguments alone, and PvE counts as off.");
    }
    if (logMissing) {
      warnings.push_back("The server log is not at " + ShownPath(ServerLogPath(pluginDir)) +
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

// A plugin file built against the simulated host loads in no server: Windows finds no
// vesperline_simhost.dll there, and AsaApi never gets to call it.
void WarnOfTestBuild(const std::string& pluginDir, std::vector<std::string>& warnings) {
  const std::string path = Utf8FromPath(PathFromUtf8(pluginDir) / kPluginFile);
  std::error_code error;
  const std::uintmax_t size = fs::file_size(PathFromUtf8(path), error);
  if (error || size > kMaxPluginFileBytes) return;
  const std::optional<std::string> image = ReadFileBytes(path);
  if (!image) return;
  for (const std::string& library : ImportedLibraries(*image)) {
    if (LowerAscii(library) == kTestHostLibrary) {
      warnings.push_back(std::string(kPluginFile) + " in the plugin folder is a build for tests: " +
                         "it takes its host calls from " + library +
                         ", the simulated host, instead of " + std::string(kHostLibrary) +
                         ", so no server can load it. Install " + kPluginFile +
                         " from a release package (Vesperline-<version>-win64.zip, not one whose "
                         "name ends in -test).");
      return;
    }
  }
}

}  // namespace

// Built by appending: g++ 12 at -O3 warns falsely of overlapping
// copies in a literal added to a temporary string.
std::string Enclosed(std::string_view before, std::string_view text, std::string_view after) {
  std::string joined;
  joined.reserve(before.size() + text.size() + after.size());
  joined.append(before).append(text).append(after);
  return joined;
}

std::string NotUtf8Warning(std::string_view role, std::size_t line) {
  return std::string(role) + " is not saved as UTF-8 (line " + std::to_string(line) +
         " holds bytes that are no UTF-8; Notepad calls that \"ANSI\"), so characters outside "
         "ASCII reach the server list wrongly. Save it as UTF-8.";
}

std::string FileState(const FileRead& read) {
  if (read.TooLarge) {
    return "found, but " + std::to_string(*read.TooLarge) +
           " bytes long, more than the plugin reads (" + std::to_string(kMaxConfigFileBytes) +
           " bytes)";
  }
  if (read.Opened) {
    if (read.Encoding == TextEncoding::Utf16Be) {
      return "found, but saved as UTF-16BE, which the plugin does not read";
    }
    return "found, read as " + std::string(TextEncodingName(read.Encoding));
  }
  switch (read.Failure) {
    case platform::OpenFailure::Directory:
      return "a directory, not a file";
    case platform::OpenFailure::Device:
      return "a device, not a file";
    case platform::OpenFailure::Pipe:
      return "a pipe or FIFO, not a file";
    case platform::OpenFailure::Other:
      return read.FailureMessage.empty() ? "not a file the plugin can read"
                                         : "cannot be read: " + read.FailureMessage;
    case platform::OpenFailure::None:
    case platform::OpenFailure::Missing:
      break;
  }
  return "not found";
}

std::vector<std::string> FindWarnings(const std::string& pluginDir, Discovery& found,
                                      const std::string& besideDepth) {
  std::vector<std::string> warnings;
  std::error_code error;
  if (!fs::is_regular_file(PathFromUtf8(pluginDir) / kPluginFile, error)) {
    warnings.push_back(std::string(kPluginFile) +
                       " is not in the plugin folder: the plugin host loads the plugin from "
                       "there, so until it is, the plugin does not run at all.");
  } else {
    WarnOfTestBuild(pluginDir, warnings);
  }
  if (found.Config.Failure == platform::OpenFailure::Missing) {
    WarnOfHiddenExtension(pluginDir, warnings);
  }

  const struct {
    const char* Role;
    std::string Path;
    const FileRead& Read;
  } files[] = {{"config.json", ConfigFilePath(pluginDir), found.Config},
               {"The settings file", SettingsFilePath(pluginDir), found.Settings},
               {"The server log", ServerLogPath(pluginDir), found.Log}};
  for (const auto& file : files) {
    if (file.Read.Opened && file.Read.Encoding == TextEncoding::Utf16Be) {
      warnings.push_back(std::string(file.Role) +
                         " is saved as UTF-16 big-endian, which the plugin does not read, so "
                         "every value in it counts as absent. Save it as UTF-8, or as \"Unicode\" "
                         "in Notepad.");
    } else if (!file.Read.Opened && file.Read.Failure != platform::OpenFailure::Missing) {
      warnings.push_back(std::string(file.Role) + " at " + ShownPath(file.Path) + " is " +
                         FileState(file.Read) + "; the plugin counts it as missing.");
    }
  }
  WarnOfMissingServerFiles(pluginDir, found, warnings);
  if (!besideDepth.empty()) warnings.push_back(besideDepth);

  if (found.Gate.FileFound && found.Config.Encoding != TextEncoding::Utf16Be) {
    WarnOfConfigValues(pluginDir, found, warnings);
  }
  if (found.Settings.Opened && found.Settings.Encoding != TextEncoding::Utf16Be) {
    WarnOfSettingsLines(pluginDir, found, warnings);
  }
  if (found.Facts.ServerPort > 65535) {
    warnings.push_back("The port is " + std::to_string(found.Facts.ServerPort) +
                       ", above 65535, the highest port there is: no player can connect there.");
  }
  return warnings;
}

}  // namespace vesperline::check
