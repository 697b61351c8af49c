#include "discovery/SettingsFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

// White space as the engine trims it from keys, values and headers.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

// How many lookups the candidates' mask follows.
constexpr std::size_t kMaskWidth = 64;

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

void IniScanner::BoundedText::Clear() {
  text_.clear();
  cut_ = false;
}

void IniScanner::BoundedText::Append(char byte) {
  if (text_.size() < kMaxIniTextBytes) {
    text_.push_back(byte);
  } else {
    cut_ = true;
  }
}

std::string IniScanner::BoundedText::Take() {
  if (cut_) text_.resize(CompleteUtf8Length(text_));
  std::string text = std::move(text_);
  Clear();
  return text;
}

IniScanner::IniScanner(std::vector<IniLookup> lookups, KeyLineSink keyLines)
    : keyLines_(std::move(keyLines)) {
  slots_.reserve(lookups.size());
  for (IniLookup& lookup : lookups) {
    Slot slot;
    slot.LowerKey = LowerAscii(lookup.Key);
    slot.LowerSection = LowerAscii(lookup.Section);
    slot.Lookup = std::move(lookup);
    slots_.push_back(std::move(slot));
  }
}

namespace {

// The bytes that end a line or change where it ends (a comment changes how quotes read): all a
// line of no interest is looked at for.
constexpr auto kLineShapers = [] {
  std::array<bool, 256> shapers{};
  for (const unsigned char c : std::string_view("\r\n|\"{}\\/")) shapers[c] = true;
  return shapers;
}();

}  // namespace

void IniScanner::Feed(std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    if (state_ == State::Skip && !pendingBackslash_ && !pendingSlash_ && !skipLineBreak_) {
      // Nothing of this line is kept, so only the bytes that shape it are looked at one by one.
      const char* const from = at;
      while (at < end && !kLineShapers[static_cast<unsigned char>(*at)]) ++at;
      if (at != from) afterCarriageReturn_ = false;
      if (at == end) break;
    }
    Put(*at++);
  }
}

void IniScanner::Finish() {
  skipLineBreak_ = false;
  if (pendingBackslash_) {
    pendingBackslash_ = false;
    Ordinary('\\');
  }
  if (pendingSlash_) {
    pendingSlash_ = false;
    Ordinary('/');
  }
  EndLine(false);
}

void IniScanner::Put(char byte) {
  // Lines of the file, for the line numbers a reader is told: CR, LF and CR LF each end one.
  const bool pairedLineFeed = byte == '\n' && afterCarriageReturn_;
  afterCarriageReturn_ = byte == '\r';
  if (IsLineBreak(byte) && !pairedLineFeed) ++physicalLine_;

  if (skipLineBreak_) {
    skipLineBreak_ = false;
    if (IsLineBreak(byte)) return;
  }
  // A backslash or a slash waits for the byte after it, which decides what it is.
  if (pendingBackslash_) {
    pendingBackslash_ = false;
    if (!inQuotes_ && IsLineBreak(byte)) {
      // A backslash at the end of a line joins the next line to it.
      Take(' ');
      skipLineBreak_ = true;
      return;
    }
    if (inQuotes_ && !comment_ && (byte == '"' || byte == '\\')) {
      // An escaped quote or backslash inside quotes neither closes nor escapes anything.
      Take('\\');
      Take(byte);
      return;
    }
    Ordinary('\\');
  }
  if (pendingSlash_) {
    pendingSlash_ = false;
    if (byte == '/') {
      comment_ = true;
      return;
    }
    Ordinary('/');
  }
  if (IsLineBreak(byte)) {
    if (braces_ > 0) {
      // Inside braces a line break is a blank, and the line goes on.
      Take(' ');
      skipLineBreak_ = true;
      return;
    }
    EndLine(false);
    return;
  }
  if (inQuotes_) {
    if (byte == '\\') {
      pendingBackslash_ = true;
    } else {
      Ordinary(byte);
    }
    return;
  }
  switch (byte) {
    case '|':
      EndLine(true);
      break;
    case '\\':
      pendingBackslash_ = true;
      break;
    case '/':
      pendingSlash_ = true;
      break;
    case '{':
      ++braces_;
      break;
    case '}':
      if (braces_ > 0) --braces_;
      break;
    default:
      Ordinary(byte);
  }
}

void IniScanner::Ordinary(char byte) {
  if (byte == '"') inQuotes_ = !inQuotes_;
  if (!comment_) Take(byte);
}

void IniScanner::Take(char byte) {
  switch (state_) {
    case State::LineStart:
      if (byte == '[') {
        state_ = State::Header;
        header_.Clear();
        headerLength_ = 0;
        headerContentEnd_ = 0;
        headerEndsWithBracket_ = false;
      } else if (byte == ';') {
        state_ = State::Skip;
      } else {
        state_ = State::KeyStart;
        TakeKey(byte);
      }
      break;
    case State::Header:
      header_.Append(byte);
      ++headerLength_;
      if (!IsBlank(byte)) {
        headerContentEnd_ = headerLength_;
        headerEndsWithBracket_ = byte == ']';
      }
      break;
    case State::KeyStart:
    case State::Key:
      TakeKey(byte);
      break;
    case State::ValueStart:
    case State::Value:
    case State::Quoted:
    case State::QuotedEscape:
    case State::ValueEnd:
      TakeValue(byte);
      break;
    case State::Skip:
      break;
  }
}

void IniScanner::TakeKey(char byte) {
  if (byte == '=') {
    MatchKey();
    return;
  }
  if (state_ == State::KeyStart) {
    if (IsBlank(byte)) return;
    state_ = State::Key;
    candidates_ =
        slots_.size() >= kMaskWidth ? ~std::uint64_t{0} : (std::uint64_t{1} << slots_.size()) - 1;
    // The engine's merge commands before a key: the key itself begins after them.
    if (byte == '+' || byte == '-' || byte == '.' || byte == '!') return;
  }
  // The keys looked up hold no blank, so a key with one inside it matches none of them; nor does
  // a key that no key looked up begins with, whatever follows.
  if (IsBlank(byte)) {
    keyEnded_ = true;
    return;
  }
  // Most lines hold keys of no interest, which this tells within their first few bytes: a slot
  // stays a candidate while its key goes on as the line's does. Slots past the mask's width stay
  // candidates throughout and are compared whole at the '='.
  const char lower = LowerAsciiByte(byte);
  const std::size_t at = key_.size();
  key_.push_back(lower);
  std::uint64_t remaining = 0;
  for (std::uint64_t left = candidates_; left != 0; left &= left - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(left));
    const std::string& key = slots_[i].LowerKey;
    if (at < key.size() && key[at] == lower) remaining |= std::uint64_t{1} << i;
  }
  candidates_ = remaining;
  if (keyEnded_ || (candidates_ == 0 && slots_.size() <= kMaskWidth)) state_ = State::Skip;
}

void IniScanner::MatchKey() {
  matched_.clear();
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].LowerKey == key_) matched_.push_back(i);
  }
  if (matched_.empty()) {
    state_ = State::Skip;
    return;
  }
  state_ = State::ValueStart;
  value_.Clear();
  valueBlanks_.clear();
  written_.Clear();
}

void IniScanner::TakeValue(char byte) {
  if (keyLines_) written_.Append(byte);
  switch (state_) {
    case State::ValueStart:
      if (IsBlank(byte)) return;
      if (byte == '"') {
        state_ = State::Quoted;
        return;
      }
      state_ = State::Value;
      value_.Append(byte);
      return;
    case State::Value:
    case State::Quoted:
      // Blanks count once more of the value follows: the line's own blanks at its end are no
      // part of it, also where an opening quote is never closed. Blanks before a closing quote
      // are the value's.
      if (IsBlank(byte)) {
        if (valueBlanks_.size() < kMaxIniTextBytes) valueBlanks_.push_back(byte);
        return;
      }
      for (const char blank : valueBlanks_) value_.Append(blank);
      valueBlanks_.clear();
      if (state_ == State::Value) {
        value_.Append(byte);
      } else if (byte == '\\') {
        state_ = State::QuotedEscape;
      } else if (byte == '"') {
        state_ = State::ValueEnd;
      } else {
        value_.Append(byte);
      }
      return;
    case State::QuotedEscape: {
      state_ = State::Quoted;
      constexpr std::string_view kEscaped = "\"\\'nrt";
      constexpr std::string_view kMeant = "\"\\'\n\r\t";
      const std::size_t escape = kEscaped.find(byte);
      if (escape != std::string_view::npos) {
        value_.Append(kMeant[escape]);
      } else {
        // An unknown escape keeps its backslash; a blank after it waits as any other.
        value_.Append('\\');
        if (!IsBlank(byte)) {
          value_.Append(byte);
        } else if (valueBlanks_.size() < kMaxIniTextBytes) {
          valueBlanks_.push_back(byte);
        }
      }
      return;
    }
    default:
      return;
  }
}

void IniScanner::EndValue(bool atBar, bool comment) {
  if (state_ == State::QuotedEscape) value_.Append('\\');
  std::string value = value_.Take();
  for (const std::size_t index : matched_) {
    Slot& slot = slots_[index];
    if (!slot.LowerSection.empty() && lowerSection_ == slot.LowerSection) {
      slot.SectionValue = value;
    } else if (slot.FallbackValue.empty()) {
      slot.FallbackValue = value;
    }
  }
  if (keyLines_) {
    IniKeyLine line;
    line.Lookup = matched_.front();
    line.Line = lineStart_;
    line.Section = currentSection_;
    line.Written = written_.Take();
    line.Value = std::move(value);
    line.EndsAtBar = atBar;
    line.Comment = comment;
    keyLines_(line);
  }
}

void IniScanner::EndLine(bool atBar) {
  switch (state_) {
    case State::Header:
      if (headerEndsWithBracket_) {
        std::string name = header_.Take();
        name.resize(std::min(name.size(), headerContentEnd_ - 1));
        currentSection_ = std::move(name);
        lowerSection_ = LowerAscii(currentSection_);
      }
      break;
    case State::ValueStart:
    case State::Value:
    case State::Quoted:
    case State::QuotedEscape:
    case State::ValueEnd:
      EndValue(atBar, comment_);
      break;
    default:
      break;
  }
  state_ = State::LineStart;
  inQuotes_ = false;
  comment_ = false;
  braces_ = 0;
  key_.clear();
  keyEnded_ = false;
  matched_.clear();
  lineStart_ = physicalLine_;
}

const std::string& IniScanner::Value(std::size_t lookup) const {
  const Slot& slot = slots_.at(lookup);
  return slot.SectionValue.empty() ? slot.FallbackValue : slot.SectionValue;
}

std::string FindIniValue(std::string_view text, std::string_view key, std::string_view section) {
  IniScanner scanner({IniLookup{std::string(key), std::string(section)}});
  scanner.Feed(text);
  scanner.Finish();
  return scanner.Value(0);
}

std::vector<std::string> ReadIniValues(const std::string& path,
                                       const std::vector<IniLookup>& lookups, FileRead* read) {
  IniScanner scanner(lookups);
  platform::InputFile file(path);
  if (read != nullptr) *read = FileReadOf(file);
  if (file.IsOpen()) {
    ServerTextReader reader;
    const ServerTextReader::TextSink feed = [&](std::string_view text) { scanner.Feed(text); };
    reader.ReadOn(file, feed);
    reader.Finish(feed);
    scanner.Finish();
    if (read != nullptr) read->Encoding = reader.Encoding();
  }
  std::vector<std::string> values;
  values.reserve(lookups.size());
  for (std::size_t i = 0; i < lookups.size(); ++i) values.push_back(scanner.Value(i));
  return values;
}

std::string ReadIniValue(const std::string& path, const std::string& key,
                         const std::string& section) {
  return ReadIniValues(path, {IniLookup{key, section}}).front();
}

}  // namespace vesperline
