#include "tools/check/Warnings.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "tools/check/Check.h"

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

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A dotted IPv4 address of four decimal numbers from 0 to 255, without leading zeros.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && IsDigit(text[digits]) && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) {
      return std::nullopt;
    }
    bytes[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(digits);
  }
  if (!text.empty()) return std::nullopt;
  return bytes;
}

// An IPv6 address in its text forms: eight groups of up to four hex digits, one "::" for a run of
// zero groups, and an IPv4 address in place of the last two groups.
std::optional<std::array<std::uint16_t, 8>> ParseIpv6(std::string_view text) {
  std::array<std::uint16_t, 8> groups{};
  std::size_t count = 0;
  std::optional<std::size_t> gap;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    text.remove_prefix(2);
  }
  while (!text.empty()) {
    if (count == 8) return std::nullopt;
    if (count <= 6 && text.find('.') != std::string_view::npos &&
        text.find(':') == std::string_view::npos) {
      const auto ipv4 = ParseIpv4(text);
      if (!ipv4) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[0] << 8 | (*ipv4)[1]);
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[2] << 8 | (*ipv4)[3]);
      text = {};
      break;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 5 && HexValue(text[digits]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexValue(text[digits]));
      ++digits;
    }
    if (digits == 0 || digits > 4) return std::nullopt;
    groups[count++] = static_cast<std::uint16_t>(value);
    text.remove_prefix(digits);
    if (text.empty()) break;
    if (text.substr(0, 2) == "::") {
      if (gap) return std::nullopt;
      gap = count;
      text.remove_prefix(2);
    } else if (text.front() == ':' && text.size() > 1) {
      text.remove_prefix(1);
    } else {
      return std::nullopt;
    }
  }
  if (gap) {
    if (count == 8) return std::nullopt;
    // The groups after the gap move to the end; the gap's groups are zero.
    std::array<std::uint16_t, 8> full{};
    for (std::size_t i = 0; i < *gap; ++i) full[i] = groups[i];
    for (std::size_t i = *gap; i < count; ++i) full[8 - (count - i)] = groups[i];
    return full;
  }
  if (count != 8) return std::nullopt;
  return groups;
}

AddressKind ClassifyIpv4(const std::array<std::uint8_t, 4>& a) {
  if (a[0] == 0) return AddressKind::kUnspecified;
  if (a[0] == 127) return AddressKind::kLoopback;
  if (a[0] == 169 && a[1] == 254) return AddressKind::kLinkLocal;
  if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
      (a[0] == 100 && (a[1] & 0xC0) == 64)) {
    return AddressKind::kPrivate;
  }
  if ((a[0] == 192 && a[1] == 0 && a[2] == 2) || (a[0] == 198 && a[1] == 51 && a[2] == 100) ||
      (a[0] == 203 && a[1] == 0 && a[2] == 113)) {
    return AddressKind::kExample;
  }
  return AddressKind::kPublic;
}

AddressKind ClassifyIpv6(const std::array<std::uint16_t, 8>& g) {
  const bool zeroUpTo5 = g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0;
  if (zeroUpTo5 && g[5] == 0xFFFF) {
    return ClassifyIpv4({static_cast<std::uint8_t>(g[6] >> 8), static_cast<std::uint8_t>(g[6]),
                         static_cast<std::uint8_t>(g[7] >> 8), static_cast<std::uint8_t>(g[7])});
  }
  if (zeroUpTo5 && g[5] == 0 && g[6] == 0) {
    if (g[7] == 0) return AddressKind::kUnspecified;
    if (g[7] == 1) return AddressKind::kLoopback;
  }
  if ((g[0] & 0xFFC0) == 0xFE80) return AddressKind::kLinkLocal;
  if ((g[0] & 0xFE00) == 0xFC00) return AddressKind::kPrivate;
  if (g[0] == 0x2001 && g[1] == 0x0DB8) return AddressKind::kExample;
  return AddressKind::kPublic;
}

// A port after the address: a ':' and decimal digits.
bool IsPortSuffix(std::string_view text) {
  if (text.size() < 2 || text.front() != ':') return false;
  for (const char c : text.substr(1)) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

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

// The settings file or the log is missing: either the plugin folder sits at the wrong depth, or
// the server has not written the file yet.
void WarnOfMissingServerFiles(const std::string& pluginDir, const Discovery& found,
                              std::vector<std::string>& warnings) {
  const bool settingsMissing = found.Settings.Failure == platform::OpenFailure::Missing;
  const bool logMissing = found.Log.Failure == platform::OpenFailure::Missing;
  if (!settingsMissing && !logMissing) return;
  const fs::path plugin = PluginFolder(pluginDir);
  const std::optional<fs::path> server = LevelsAbove(plugin, kLevelsToServer);
  if (server && IsFolder(*server / "Saved")) {
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
      "folders above the plugin folder (in Saved there): the plugin folder is probably at the "
      "wrong depth. The usual cause is unpacking the ZIP into a folder named after the ZIP.";
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

// A config.json text value that was not in quotes: the plugin took the next quoted text instead.
void WarnOfUnquotedValue(std::string_view key, const JsonText& value, bool showValue,
                         std::vector<std::string>& warnings) {
  if (value.Outcome != JsonKeyOutcome::kFound || !value.ValueUnquoted) return;
  // A key's name is no secret, and it is what an unquoted value most often runs into.
  const bool isKeyName = value.Value == "token" || value.Value == "ip" || value.Value == "port" ||
                         value.Value == "_comment";
  const std::string taken = showValue || isKeyName
                                ? "\"" + value.Value + "\""
                                : "a text of " + std::to_string(value.Value.size()) + " bytes";
  warnings.push_back("config.json \"" + std::string(key) +
                     "\": the value after the ':' is not in double quotes, so the plugin takes "
                     "the next quoted text in the file instead: " +
                     taken + ". Write the value in double quotes.");
}

void WarnOfAddress(const std::string& ip, std::vector<std::string>& warnings) {
  const std::string quoted = "config.json \"ip\" is \"" + ip + "\", ";
  switch (ClassifyAddress(ip)) {
    case AddressKind::kPublic:
      return;
    case AddressKind::kNotAnAddress:
      warnings.push_back(quoted +
                         "which is not an IPv4 or IPv6 address (four numbers from 0 to 255 joined "
                         "by dots, say): give the public address players connect to, without "
                         "blanks, a host name or a port.");
      return;
    case AddressKind::kWithPort:
      warnings.push_back(quoted +
                         "which carries a port: give the address alone in \"ip\" and the port in "
                         "\"port\".");
      return;
    case AddressKind::kPrivate:
      warnings.push_back(quoted +
                         "a private network's address, which players elsewhere cannot reach: give "
                         "the server's public address.");
      return;
    case AddressKind::kLoopback:
      warnings.push_back(quoted +
                         "the machine's own loopback address, which no other machine can reach: "
                         "give the server's public address.");
      return;
    case AddressKind::kLinkLocal:
      warnings.push_back(quoted +
                         "a link-local address, which only machines on the same link can reach: "
                         "give the server's public address.");
      return;
    case AddressKind::kUnspecified:
      warnings.push_back(quoted +
                         "which is no machine's address: give the server's public address.");
      return;
    case AddressKind::kExample:
      warnings.push_back(quoted +
                         "an address reserved for examples (the README uses one): give the "
                         "server's public address.");
      return;
  }
}

}  // namespace

AddressKind ClassifyAddress(std::string_view text) {
  if (const auto ipv4 = ParseIpv4(text)) return ClassifyIpv4(*ipv4);
  if (const auto ipv6 = ParseIpv6(text)) return ClassifyIpv6(*ipv6);
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && IsPortSuffix(text.substr(colon))) {
    const std::string_view address = text.substr(0, colon);
    if (ParseIpv4(address)) return AddressKind::kWithPort;
    if (address.size() > 2 && address.front() == '[' && address.back() == ']' &&
        ParseIpv6(address.substr(1, address.size() - 2))) {
      return AddressKind::kWithPort;
    }
  }
  return AddressKind::kNotAnAddress;
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

std::vector<std::string> FindWarnings(const std::string& pluginDir, const Discovery& found) {
  std::vector<std::string> warnings;
  std::error_code error;
  if (!fs::is_regular_file(PathFromUtf8(pluginDir) / kPluginFile, error)) {
    warnings.push_back(std::string(kPluginFile) +
                       " is not in the plugin folder: the plugin host loads the plugin from "
                       "there, so until it is, the plugin does not run at all.");
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

  if (found.Gate.FileFound && found.Config.Encoding != TextEncoding::Utf16Be) {
    WarnOfUnquotedValue("token", found.Gate.Token, false, warnings);
    WarnOfUnquotedValue("ip", found.Gate.Ip, true, warnings);
    if (found.Facts.Token == "your-token") {
      warnings.push_back(
          "config.json \"token\" is still the README's example, \"your-token\": put in the token "
          "the server list gave you for this server.");
    }
    if (!found.Facts.ServerIp.empty() && !found.Gate.Ip.ValueUnquoted) {
      WarnOfAddress(found.Facts.ServerIp, warnings);
    }
  }
  if (found.Facts.ServerPort > 65535) {
    warnings.push_back("The port is " + std::to_string(found.Facts.ServerPort) +
                       ", above 65535, the highest port there is: no player can connect there.");
  }
  return warnings;
}

}  // namespace vesperline::check
