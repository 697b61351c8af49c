// What the checker warns an admin of: an install whose verdict alone would mislead, because the
// plugin would report something other than what the admin meant, or not run at all. Each subject
// has a file of its own: the plugin's files and folders here, config.json in ConfigWarnings.cpp,
// the settings file in SettingsWarnings.cpp, the launch line in LaunchWarnings.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/Discovery.h"
#include "tools/check/text/Files.h"
#include "tools/check/text/Sentences.h"
#include "tools/check/warnings/PeImage.h"

namespace vesperline::check {

// Where a warning stands in the report's reading order. Those whose cause changes the verdict or a
// fact the heartbeat publishes (or leaves that fact other than what the server does) come first;
// asides come after them: a leftover that only misleads, a disagreement the server settles the
// way the heartbeat reports it, a note on where the checker looked.
enum class WarningWeight { kOutcome, kAside };

// One warning: a sentence or two for the admin, and its weight. Made from its text alone, it is
// one that changes the outcome, as most are, so that a subject writes its usual warnings as text.
struct Warning {
  Warning(std::string text, WarningWeight weight = WarningWeight::kOutcome)  // NOLINT: implicit
      : Text(std::move(text)), Weight(weight) {}
  Warning(const char* text, WarningWeight weight = WarningWeight::kOutcome)  // NOLINT: implicit
      : Text(text), Weight(weight) {}
  std::string Text;
  WarningWeight Weight;
};

// The port the game listens on when its launch line gives none.
inline constexpr std::int32_t kGameDefaultPort = 7777;

// The same for the file at path in the given role ("config.json", "settings file", "server log"),
// as the report's list of files shows it: a link to something that is no file names its target,
// and a log that is no file says what the heartbeat then lacks.
std::string FileState(std::string_view role, const std::string& path, const FileRead& read);

// The rest of a sentence that begins with a file's name and place and tells why the plugin could
// not open it: "is a directory, not a file", "cannot be read (the system says: ...)".
std::string NotOpenedSentence(const std::string& path, const FileRead& read);

// A link whose target is not there, for the rest of a sentence after "is": "a link to /data/x,
// which leads nowhere in the Docker container 3f2a1b9c8d7e: ...".
std::string DeadLinkState(const DeadLink& dead);

// What more to say of a config.json that is a folder: an empty one is what Docker leaves where it
// is told to mount a file that is missing on the host, so the cause and its remedy; empty text
// for a folder that holds something.
std::string ConfigFolderCause(const std::string& path);

// What an admin does about a file another program holds open, config.json or the settings file,
// which the plugin reads only at start.
inline constexpr std::string_view kCloseTheHolder =
    "close the program that holds it (an editor, a sync tool), then restart the server";

// The name of the plugin file that lies in the plugin folder (which ends with a separator):
// Vesperline.dll, as Windows and Wine load it, or on Linux the plugin built for Linux, which only
// the development host loads; Vesperline.dll when neither does.
std::string PluginFileIn(const std::string& pluginDir);

// Why the plugin does not run at all: its file is not in the plugin folder. It names a disabled or
// renamed copy that lies there, and says how to put it back. Nothing when the file is there.
std::optional<std::string> MissingPluginFile(const std::string& pluginDir);

// The plugin file of a plugin folder, read as bytes and never loaded: what it imports and the
// version it carries.
struct PluginFileLook {
  std::string Name;  // as PluginFileIn names it
  bool Found = false;
  // The checker read it; a file it cannot open, or one far larger than any plugin, it does not.
  bool Read = false;
  bool WindowsDll = false;  // it is a whole PE image (see IsWholePeImage)
  std::vector<std::string> Imports;
  std::optional<FileVersion> Version;  // from its version resource
};
PluginFileLook LookAtPluginFile(const std::string& pluginDir);

// The version of this checker, and of the plugin file it came with.
FileVersion CheckerVersion();

// How the plugin file's version stands to this checker's. A Windows DLL without a version
// resource is a build from before the plugin files carried one, older than any that does. The
// plugin built for Linux, which only the development host loads, carries none.
enum class PluginVersion { NotFound, NotRead, LinuxBuild, NoDll, NoVersion, Older, Same, Newer };
PluginVersion CompareWithChecker(const PluginFileLook& plugin);

// The files of the plugin folder that look like the plugin file disabled or renamed
// ("Vesperline.dll.disabled", "Vesperline (1).dll"), sorted by name; and the plugin file such a
// name stands for, or empty text for a name that is none.
std::vector<std::string> PluginFileCopies(const std::string& pluginDir);
std::string PluginFileOfCopy(const std::string& name);

// Files beside a missing config.json whose names Explorer shows as config.json, with their
// extension hidden ("config.json.txt"), sorted by name; and what to do about one.
std::vector<std::string> HiddenExtensionFiles(const std::string& pluginDir);
std::string RenameAdvice(const std::string& name);

// The warnings for what discovery found in the plugin folder (which ends with a separator) and for
// its plugin file as LookAtPluginFile read it, each a sentence or two for the admin, in the order
// of their subjects (the report puts them in its reading order by weight). A note that calls a
// settings-file key absent, where a line the plugin passes over holds it, is amended to say so.
// besideDepth, when not empty, is an aside that follows the warnings about the plugin folder's
// depth.
std::vector<Warning> FindWarnings(const std::string& pluginDir, Discovery& found,
                                  const PluginFileLook& plugin,
                                  const std::string& besideDepth = {});

// The subjects, each appending its warnings in the order of the report.

// No config.json, but a file that Explorer shows as config.json.
void WarnOfHiddenExtension(const std::string& pluginDir, std::vector<Warning>& warnings);
// The values of a config.json that was found and can be read.
void WarnOfConfigValues(const std::string& pluginDir, Discovery& found,
                        std::vector<Warning>& warnings);

// config.json was read and holds nothing but blanks and line breaks, after a byte-order mark when
// it has one: its size in bytes. Nothing otherwise.
std::optional<std::uint64_t> EmptyConfigBytes(const std::string& pluginDir, const FileRead& config);
// config.example.json in the plugin folder holds a token: an admin filled in the sample, which
// the plugin never reads, instead of config.json (the release's sample has an empty token).
bool ExampleHoldsAToken(const std::string& pluginDir);
// config.json is still the release's sample as shipped (it holds the sample's own "_comment"), so
// its token and address are the sample's empty ones unless filled in.
bool ConfigIsTheSample(const std::string& pluginDir);
// The rest of a sentence that names that token: the plugin never reads it, so copy the sample to
// config.json, overwriting an empty config.json when overwrite is set.
std::string CopyTheExample(bool overwrite);
// The lines of a settings file that was found and can be read; amends the notes as FindWarnings
// says.
void WarnOfSettingsLines(const std::string& pluginDir, Discovery& found,
                         std::vector<Warning>& warnings);

// The launch line, where the server itself does otherwise than the admin wrote; nothing without a
// command line.
void WarnOfLaunchLine(const Discovery& found, std::vector<Warning>& warnings);

// What stands in a text value of config.json that the plugin sends with it and that spoils it,
// each named with its place ("holds a zero-width space (U+200B) at character 7", "ends with a
// line break"): a control character, a Unicode format character or space character other than
// the ASCII blank, and a blank at either end. Places are counted in characters, from 1. Empty when
// nothing does.
std::string StrayCharacters(std::string_view value);

// ?ServerPVE= on the launch line with a value that is neither True nor False; nothing without a
// command line.
void WarnOfAnUnclearPveOption(const Discovery& found, std::vector<Warning>& warnings);

// A PvE value is True or False, in any case.
bool IsTrueOrFalse(std::string_view value);
// What a PvE value that is neither True nor False does, for a warning that names the value: the
// heartbeat's PvE flag, and that what the server makes of it is not known.
std::string PveNeitherTrueNorFalse(std::string_view value);

// Shared by the subjects: the warning for a file whose given line holds bytes that are no UTF-8.
std::string NotUtf8Warning(std::string_view role, std::size_t line);
// The warning for a file that looks like UTF-16 without a byte-order mark: role begins the
// sentence, lost says what the plugin then takes ("no token, address or port from it").
std::string Utf16WithoutMarkWarning(std::string_view role, std::string_view lost);

}  // namespace vesperline::check
