#include "tools/check/launch/LogCommandLine.h"

#include <algorithm>

#include "common/CommandLine.h"
#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "platform/Platform.h"
#include "tools/check/mask/Mask.h"
#include "tools/check/text/Files.h"
#include "tools/check/text/Sentences.h"

namespace vesperline::check {

namespace {

// The engine's line without the white space at its ends: the blank the engine writes before the
// first argument, and whatever a log may leave at a line's end, say nothing of the server's line.
std::string_view Trimmed(std::string_view line) {
  constexpr std::string_view kWhite = " \t\r\n\v\f";
  const std::size_t start = line.find_first_not_of(kWhite);
  if (start == std::string_view::npos) return {};
  return line.substr(start, line.find_last_not_of(kWhite) + 1 - start);
}

// The engine's line with its passwords masked as those of the command line made for it: the
// marks keep the line's shape, so its engine line is the log's, marked.
std::string Masked(std::string_view engineLine) {
  const MarkedLine marked = MarkLaunchPasswords(CommandLineForEngineLine(engineLine));
  return Unmarked(Trimmed(ReadLaunchLine(marked.Text).EngineLine), marked.Mark);
}

}  // namespace

void LogCommandLineScanner::Keep(std::string_view bytes) {
  const std::size_t room = kMaxLogCommandLineBytes - value_.size();
  value_.append(bytes.substr(0, room));
  // Bytes past the limit cut the line, but for the CR of a CR LF line end.
  if (bytes.size() > room && bytes.substr(room).find_first_not_of('\r') != std::string_view::npos) {
    cut_ = true;
  }
}

void LogCommandLineScanner::EndLine() {
  if (!value_.empty() && value_.back() == '\r') value_.pop_back();
  if (cut_) value_.resize(CompleteUtf8Length(value_));
  LogCommandLine line;
  line.Line = std::move(value_);
  line.Cut = cut_;
  last_ = std::move(line);
  value_.clear();
  cut_ = false;
  inLine_ = false;
}

void LogCommandLineScanner::Feed(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (inLine_) {
      const std::size_t end = text.find('\n', pos);
      Keep(text.substr(pos, end == std::string_view::npos ? end : end - pos));
      if (end == std::string_view::npos) return;
      EndLine();
      pos = end + 1;
      continue;
    }
    // A marker begun at the end of the previous piece goes on here, or is none. Its first byte
    // occurs nowhere else in it, so a mismatch starts the search afresh right there.
    while (matched_ > 0 && pos < text.size() && matched_ < kCommandLineMarker.size()) {
      if (text[pos] != kCommandLineMarker[matched_]) {
        matched_ = 0;
        break;
      }
      ++matched_;
      ++pos;
    }
    if (matched_ == kCommandLineMarker.size()) {
      matched_ = 0;
      inLine_ = true;
      continue;
    }
    if (matched_ > 0) return;  // the piece ended inside the marker
    const std::size_t at = text.find(kCommandLineMarker, pos);
    if (at != std::string_view::npos) {
      inLine_ = true;
      pos = at + kCommandLineMarker.size();
      continue;
    }
    // The longest end of the piece that begins the marker.
    const std::string_view rest = text.substr(pos);
    for (std::size_t length = std::min(rest.size(), kCommandLineMarker.size() - 1); length > 0;
         --length) {
      if (rest.substr(rest.size() - length) == kCommandLineMarker.substr(0, length)) {
        matched_ = length;
        break;
      }
    }
    return;
  }
}

void LogCommandLineScanner::Finish() {
  if (inLine_) EndLine();
  matched_ = 0;
}

std::optional<LogCommandLine> ReadLogCommandLine(const std::string& path) {
  // Through a link to the output of whichever program opens it, the checker would read its own
  // output, not the server's log.
  if (IsOwnStreamLink(path)) return std::nullopt;
  platform::InputFile file(path);
  if (!file.IsOpen()) return std::nullopt;
  ServerTextReader reader;
  LogCommandLineScanner scanner;
  const auto feed = [&](std::string_view text) { scanner.Feed(text); };
  reader.ReadOn(file, feed);
  reader.Finish(feed);
  scanner.Finish();
  std::optional<LogCommandLine> last = scanner.Last();
  if (last) last->Shown = Masked(last->Line);
  return last;
}

std::string CommandLineForEngineLine(std::string_view engineLine) {
  const std::string program(kServerProgram);
  // No argument holds a NUL, which would end it in the join below.
  std::string line;
  if (!engineLine.empty() && engineLine.front() != ' ') line = " ";
  for (const char c : engineLine) {
    if (c != '\0') line += c;
  }
  if (line.empty()) return program;
  // The usual line, whose arguments hold no quotes of their own, reads back as it stands.
  std::string direct = program + line;
  if (ReadLaunchLine(direct).EngineLine == line) return direct;
  // Any other: arguments that hold no blank are written by the engine as they are, each after
  // one blank, so the pieces between the blanks give the line back, whatever quotes it holds.
  std::string arguments = program;
  arguments += '\0';
  for (std::size_t start = 1;; ++start) {
    const std::size_t end = line.find(' ', start);
    arguments.append(line, start, end == std::string::npos ? std::string::npos : end - start);
    arguments += '\0';
    if (end == std::string::npos) break;
    start = end;
  }
  return JoinProcessArguments(arguments);
}

void CompareWithTheLog(LogCommandLine& log, const LaunchLine& real, const LaunchLine& marked) {
  log.Compared = Trimmed(marked.EngineLine);
  const std::string_view logged = Trimmed(log.Line);
  const std::string_view read = Trimmed(real.EngineLine);
  // Of a line cut at the limit, the part kept is compared.
  log.Differs = log.Cut ? !read.starts_with(logged) : read != logged;
}

std::string LogCommandLineNote(const LogCommandLine& log, const CommandLineOrigin& origin) {
  std::string note =
      "the line the engine rebuilt from the server's arguments at its last start, as "
      "ShooterGame.log states it (its last \"Commandline:\" line)";
  if (log.Cut) {
    note += ", of which the checker keeps the first " + std::to_string(kMaxLogCommandLineBytes) +
            " bytes";
  }
  if (log.Taken) {
    return note +
           ". Having no command line of the server (see above), the checker reads this one as "
           "the server's launch line, as the server read it; the program's path is not in it.";
  }
  if (!log.Differs) return note + ".";
  if (!*log.Differs) {
    return note + ": the same as the checker's reading of the running server's command line above.";
  }
  if (origin.Found.size() > 1) {
    return note +
           ": not this server's, as the checker reads its command line above, so another of "
           "the " +
           std::to_string(origin.Found.size()) + " servers of this install wrote the log.";
  }
  return note +
         ": it differs from the checker's reading of the running server's command line above (see "
         "Warnings).";
}

void WarnOfADifferentLogLine(const LogCommandLine& log, const CommandLineOrigin& origin,
                             std::vector<std::string>& warnings) {
  if (!log.Differs || !*log.Differs || origin.Found.size() > 1) return;
  const std::string process = origin.Id ? " (process " + std::to_string(*origin.Id) + ")" : "";
  warnings.push_back(
      "The server's log states the line its engine rebuilt from its arguments as " +
      Enclosed("\"", log.Shown, "\"") + ", but the command line of the running server" + process +
      ", read in the engine's steps, gives " + Enclosed("\"", log.Compared, "\"") +
      ". The server writes that line at each start, so the log may be from an earlier start "
      "(run the checker again once the server has started); otherwise the server read its "
      "command line otherwise than the checker, and the facts this report takes from the launch "
      "line may not be the ones the server took: the log's line is the server's own word. Send "
      "this report, made with --json, with a support request.");
}

}  // namespace vesperline::check
