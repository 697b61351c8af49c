#include "tools/check/launch/CommandLineFile.h"

#include <cstdint>

#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "platform/Platform.h"
#include "tools/check/find/ServerProcess.h"
#include "tools/check/launch/PastedLine.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/text/Files.h"
#include "tools/check/text/Paths.h"
#include "tools/check/text/Printable.h"
#include "tools/check/text/Sentences.h"

namespace vesperline::check {

namespace fs = std::filesystem;

namespace {

// The largest command-line file read. A Windows command line holds at most 32,767 UTF-16 units,
// so a larger file is no command line (a log, say) and is not read into memory.
constexpr std::uint64_t kMaxCommandLineFileBytes = 1 << 20;

// wmic's column heading above the command lines, and the form /value writes each one in.
constexpr std::string_view kHeading = "commandline";
constexpr std::string_view kValuePrefix = "commandline=";

constexpr std::string_view kBlanks = " \t";

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(kBlanks) == std::string_view::npos;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) + 1 - start);
}

// The executable that a command line starts with, cmd's start in front of it passed over: inside
// the quotes it starts with, or, unquoted,
// up to the blank after ".exe" (a path with blanks that nobody quoted), else up to the first blank.
std::string ExecutableOf(std::string_view whole) {
  const PastedLine pasted = WithoutStart(whole);
  std::string_view line = Trimmed(pasted.Line);
  if (line.starts_with('"')) {
    line.remove_prefix(1);
    return std::string(line.substr(0, line.find('"')));
  }
  const std::string lower = LowerAscii(line);
  for (std::size_t at = lower.find(".exe"); at != std::string::npos;
       at = lower.find(".exe", at + 1)) {
    const std::size_t end = at + 4;
    if (end == line.size() || kBlanks.find(line[end]) != std::string_view::npos) {
      return std::string(line.substr(0, end));
    }
  }
  return std::string(line.substr(0, line.find_first_of(kBlanks)));
}

// One command line of a file, with its number there (from 1).
struct NumberedLine {
  std::size_t Number = 0;
  std::string Text;
};

// The lines named for the admin: each by its number and the executable it starts with.
std::string Named(const std::vector<const NumberedLine*>& lines) {
  std::string named;
  for (const NumberedLine* line : lines) {
    if (!named.empty()) named += ", ";
    named += "line " + std::to_string(line->Number) + " (" +
             Printable(MaskText(ExecutableOf(line->Text))) + ")";
  }
  return named;
}

}  // namespace

FileCommandLine PickCommandLine(std::string_view text, std::string_view install,
                                const std::function<bool(const std::string&)>& isServer) {
  // The lines that are not blank. Every carriage return at a line's end belongs to the line end:
  // wmic writes "\r\r\n". Below its heading, wmic pads each line with blanks to the longest, which
  // no command line of a server holds.
  std::vector<NumberedLine> lines;
  bool padded = false;
  std::size_t number = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsBlank(line)) continue;
    if (lines.empty() && !padded && LowerAscii(Trimmed(line)) == kHeading) {
      padded = true;
      continue;
    }
    if (LowerAscii(line.substr(0, kValuePrefix.size())) == kValuePrefix) {
      line.remove_prefix(kValuePrefix.size());
      if (IsBlank(line)) continue;
    }
    if (padded) line = line.substr(0, line.find_last_not_of(kBlanks) + 1);
    lines.push_back({number, std::string(line)});
  }

  FileCommandLine picked;
  if (lines.size() <= 1) {
    picked.Line = lines.empty() ? std::string() : lines.front().Text;
    return picked;
  }
  std::vector<const NumberedLine*> fitting;
  std::vector<const NumberedLine*> all;
  for (const NumberedLine& line : lines) {
    all.push_back(&line);
    if (isServer(ExecutableOf(line.Text))) fitting.push_back(&line);
  }
  const std::string count = std::to_string(lines.size());
  if (fitting.size() == 1) {
    picked.Line = fitting.front()->Text;
    picked.Which = "line " + std::to_string(fitting.front()->Number) + ", of its " + count +
                   " command lines the one whose executable is " + std::string(kServerProgram) +
                   " in this install's folder";
    return picked;
  }
  picked.Error = "holds " + count + " lines that are not blank, and ";
  if (fitting.empty()) {
    picked.Error += "none of them starts with " + std::string(kServerProgram) +
                    " in this install's folder (" + std::string(install) + "): " + Named(all) +
                    ". A command line is one line (is the file a start script?): put the "
                    "server's launch command line alone in the file";
  } else {
    picked.Error += std::to_string(fitting.size()) + " of them start with " +
                    std::string(kServerProgram) + " in this install's folder (" +
                    std::string(install) + "): " + Named(fitting) +
                    ". Keep only the line of the server to check in the file";
  }
  return picked;
}

FileCommandLine CommandLineFromFile(const std::string& path, const std::vector<fs::path>& folders) {
  const std::string shown = Printable(MaskText(path));
  FileCommandLine failed;
  platform::InputFile file(path);
  if (!file.IsOpen()) {
    failed.Error =
        "cannot read the command-line file " + shown + ": " + FileState(FileReadOf(file));
    return failed;
  }
  // The file is open, so only its size can make the read give nothing.
  const std::optional<std::string> bytes = ReadFileBytes(file, kMaxCommandLineFileBytes);
  if (!bytes) {
    failed.Error = "cannot read the command-line file " + shown +
                   ": it is larger than 1 MiB, far more than any command line";
    return failed;
  }
  const std::vector<std::optional<platform::FileIdentity>> identities = FolderIdentities(folders);
  std::string install;
  for (const fs::path& folder : folders) {
    if (folder.empty()) continue;
    if (!install.empty()) install += " or ";
    install += Utf8FromPath(folder);
  }
  if (install.empty()) install = "none: the plugin folder lies in no server's folder";
  FileCommandLine picked =
      PickCommandLine(DecodeServerText(*bytes).Text, install, [&](const std::string& executable) {
        const fs::path program = PathFromUtf8(executable);
        return IsServerProgram(Utf8FromPath(program.filename())) &&
               WhichFolder(program.parent_path(), identities).has_value();
      });
  if (!picked.Error.empty()) {
    picked.Error = "the command-line file " + shown + " " + picked.Error +
                   ", or give the command line with --command-line";
  }
  return picked;
}

}  // namespace vesperline::check
