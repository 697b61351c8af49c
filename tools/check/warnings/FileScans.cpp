#include "tools/check/warnings/FileScans.h"

#include <algorithm>
#include <cstdint>

#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "discovery/SettingsFile.h"
#include "platform/Platform.h"

namespace vesperline::check {

namespace {

// How much of each line of the file is kept for a warning that shows it.
constexpr std::size_t kKeptLineBytes = kMaxIniTextBytes + 64;

// Gathers the settings file's key lines as the plugin's own scanner reads them, from decoded text
// in pieces, with the lines of the file they start on, and watches the bytes for UTF-8.
class SettingsLineScan {
 public:
  SettingsLineScan() : scanner_(Lookups(), [this](const IniKeyLine& line) { Keep(line); }) {
    scan_.KeyLines.resize(std::size(kSettingsKeys));
  }

  void Feed(std::string_view text) {
    // The scanner first: the lines whose text is wanted are known before their end is seen.
    scanner_.Feed(text);
    for (const char c : text) {
      watch_.Feed(c);
      if (!watch_.Valid() && !scan_.FirstNonUtf8Line) scan_.FirstNonUtf8Line = line_;
      Physical(c);
    }
  }

  SettingsScan Finish() {
    scanner_.Finish();
    watch_.Finish();
    if (!watch_.Valid() && !scan_.FirstNonUtf8Line) scan_.FirstNonUtf8Line = line_;
    EndPhysical();
    return std::move(scan_);
  }

 private:
  static std::vector<IniLookup> Lookups() {
    std::vector<IniLookup> lookups;
    for (const SettingsKey& key : kSettingsKeys) {
      lookups.push_back({std::string(key.Key), std::string(key.Section)});
    }
    return lookups;
  }

  void Keep(const IniKeyLine& line) {
    scan_.KeyLines[line.Lookup].push_back(
        {line.Line, line.Section, line.Value, line.Written, {}, line.EndsAtBar, line.Comment});
    wanted_.push_back({line.Lookup, scan_.KeyLines[line.Lookup].size() - 1});
  }

  // The lines of the file as they stand, for the key lines: CR, LF and CR LF each end one.
  void Physical(char c) {
    const bool pairedLineFeed = c == '\n' && afterCarriageReturn_;
    afterCarriageReturn_ = c == '\r';
    if (pairedLineFeed) return;
    if (c == '\r' || c == '\n') {
      EndPhysical();
      ++line_;
    } else if (kept_.size() < kKeptLineBytes) {
      kept_ += c;
    }
  }

  void EndPhysical() {
    for (auto it = wanted_.begin(); it != wanted_.end();) {
      SettingsKeyLine& line = scan_.KeyLines[it->first][it->second];
      if (line.Line != line_) {
        ++it;
        continue;
      }
      line.Text = kept_;
      it = wanted_.erase(it);
    }
    kept_.clear();
  }

  IniScanner scanner_;
  SettingsScan scan_;
  Utf8Watch watch_;
  std::vector<std::pair<std::size_t, std::size_t>> wanted_;  // key lines awaiting their text
  std::string kept_;
  bool afterCarriageReturn_ = false;
  std::size_t line_ = 1;
};

}  // namespace

void Utf8Watch::Feed(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (pending_ > 0) {
    if (byte < low_ || byte > high_) {
      valid_ = false;
      pending_ = 0;
    } else {
      --pending_;
      low_ = 0x80;
      high_ = 0xBF;
      return;
    }
  }
  // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
  if (byte < 0x80) return;
  if (byte >= 0xC2 && byte <= 0xDF) {
    pending_ = 1;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    pending_ = 2;
    if (byte == 0xE0) low_ = 0xA0;
    if (byte == 0xED) high_ = 0x9F;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    pending_ = 3;
    if (byte == 0xF0) low_ = 0x90;
    if (byte == 0xF4) high_ = 0x8F;
  } else {
    valid_ = false;
  }
}

void Utf8Watch::Finish() {
  if (pending_ > 0) valid_ = false;
  pending_ = 0;
}

std::optional<std::size_t> FirstNonUtf8Line(std::string_view text) {
  Utf8Watch watch;
  std::size_t line = 1;
  for (const char c : text) {
    watch.Feed(c);
    if (!watch.Valid()) return line;
    if (c == '\n') ++line;
  }
  watch.Finish();
  if (!watch.Valid()) return line;
  return std::nullopt;
}

bool LooksLikeUtf16WithoutMark(std::string_view firstBytes) {
  const std::size_t pairs = std::min(firstBytes.size(), kUtf16LookBytes) / 2;
  if (pairs == 0) return false;
  std::size_t zeros[2] = {0, 0};
  for (std::size_t i = 0; i < 2 * pairs; ++i) {
    if (firstBytes[i] == '\0') ++zeros[i % 2];
  }
  const auto mostlyZero = [&](std::size_t count) { return 2 * count >= pairs; };
  const auto nearlyNone = [&](std::size_t count) { return 8 * count <= pairs; };
  return (mostlyZero(zeros[0]) && nearlyNone(zeros[1])) ||
         (mostlyZero(zeros[1]) && nearlyNone(zeros[0]));
}

SettingsScan ScanSettingsFile(const std::string& path) {
  platform::InputFile file(path);
  if (!file.IsOpen()) return {};
  SettingsLineScan lines;
  ServerTextReader reader;
  std::string head;
  const ServerTextReader::TextSink feed = [&](std::string_view text) {
    if (head.size() < kUtf16LookBytes) head += text.substr(0, kUtf16LookBytes - head.size());
    lines.Feed(text);
  };
  reader.ReadOn(file, feed);
  reader.Finish(feed);
  SettingsScan scan = lines.Finish();
  scan.Read = true;
  // Zero bytes are ASCII, so such a file shows as UTF-8 unless it holds other characters; it is
  // told of on its own.
  if (reader.Encoding() == TextEncoding::Plain && LooksLikeUtf16WithoutMark(head)) {
    scan.Utf16WithoutMark = true;
    scan.FirstNonUtf8Line.reset();
  }
  // Big-endian UTF-16 is told of on its own; its bytes say nothing about the file's characters.
  if (reader.Encoding() == TextEncoding::Utf16Be) scan.FirstNonUtf8Line.reset();
  return scan;
}

const SettingsKeyLine* LineThePluginUses(const SettingsKey& key,
                                         const std::vector<SettingsKeyLine>& lines) {
  const SettingsKeyLine* inSection = nullptr;
  const SettingsKeyLine* fallback = nullptr;
  for (const SettingsKeyLine& line : lines) {
    if (!key.Section.empty() && LowerAscii(line.Section) == LowerAscii(key.Section)) {
      inSection = &line;
    } else if (fallback == nullptr && !line.Value.empty()) {
      fallback = &line;
    }
  }
  return inSection != nullptr && !inSection->Value.empty() ? inSection : fallback;
}

}  // namespace vesperline::check
