#include "discovery/SettingsFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/Text.h"
#include "discovery/ServerFile.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

// True when line begins with the key (given lower-cased; the line's case does not matter) directly
// followed by '='. Most lines are no key line: the byte after the key's length rules them out at
// once.
bool IsKeyLine(std::string_view line, std::string_view lowerKey) {
  if (line.size() <= lowerKey.size() || line[lowerKey.size()] != '=') return false;
  for (std::size_t i = 0; i < lowerKey.size(); ++i) {
    if (LowerAsciiByte(line[i]) != lowerKey[i]) return false;
  }
  return true;
}

// A whole section name or value, cut to the limit when it is longer.
std::string_view Bounded(std::string_view text) {
  if (text.size() <= kMaxIniTextBytes) return text;
  return text.substr(0, CompleteUtf8Length(text.substr(0, kMaxIniTextBytes)));
}

}  // namespace

void IniScanner::BoundedText::Clear() {
  text_.clear();
  dropped_ = 0;
  lastDropped_ = 0;
}

void IniScanner::BoundedText::Append(std::string_view bytes) {
  const std::size_t room = kMaxIniTextBytes - text_.size();
  if (bytes.size() <= room) {
    text_.append(bytes);
    return;
  }
  text_.append(bytes.substr(0, room));
  dropped_ = std::min<std::size_t>(2, dropped_ + bytes.size() - room);
  lastDropped_ = bytes.back();
}

std::string IniScanner::BoundedText::TakeAtLineEnd() {
  if (dropped_ == 0) {
    if (!text_.empty() && text_.back() == '\r') text_.pop_back();
  } else if (dropped_ > 1 || lastDropped_ != '\r') {
    // A carriage return alone past the limit ends the line and is no part of the text: no cut.
    text_.resize(CompleteUtf8Length(text_));
  }
  std::string text = std::move(text_);
  Clear();
  return text;
}

std::string IniScanner::BoundedText::TakeAtBracket() {
  if (dropped_ > 0) text_.resize(CompleteUtf8Length(text_));
  std::string text = std::move(text_);
  Clear();
  return text;
}

IniScanner::IniScanner(std::vector<IniLookup> lookups) {
  slots_.reserve(lookups.size());
  for (IniLookup& lookup : lookups) {
    Slot slot;
    slot.LowerKey = LowerAscii(lookup.Key);
    prefixLimit_ = std::max(prefixLimit_, lookup.Key.size() + 1);
    slot.Lookup = std::move(lookup);
    slots_.push_back(std::move(slot));
  }
  prefix_.reserve(prefixLimit_);
}

bool IniScanner::InRequestedSection(const Slot& slot) const {
  return !slot.Lookup.Section.empty() && currentSection_ == slot.Lookup.Section;
}

void IniScanner::Keep(Slot& slot, std::string value) {
  if (InRequestedSection(slot)) {
    slot.SectionValue = std::move(value);
  } else if (slot.FallbackValue.empty()) {
    slot.FallbackValue = std::move(value);
  }
}

void IniScanner::Line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!line.empty() && line.front() == '[') {
    const std::string_view name = line.substr(1);
    currentSection_.assign(Bounded(name.substr(0, name.find(']'))));
    return;
  }
  for (Slot& slot : slots_) {
    if (!IsKeyLine(line, slot.LowerKey)) continue;
    if (!InRequestedSection(slot) && !slot.FallbackValue.empty()) continue;
    Keep(slot, std::string(Bounded(line.substr(slot.LowerKey.size() + 1))));
  }
}

void IniScanner::StartValues() {
  bool any = false;
  for (Slot& slot : slots_) {
    // A value outside the requested section counts only while no fallback has been found.
    if (!IsKeyLine(prefix_, slot.LowerKey)) continue;
    if (!InRequestedSection(slot) && !slot.FallbackValue.empty()) continue;
    slot.Gathering = true;
    slot.Candidate.Append(std::string_view(prefix_).substr(slot.LowerKey.size() + 1));
    any = true;
  }
  state_ = any ? State::Value : State::Skip;
}

void IniScanner::EndValues() {
  for (Slot& slot : slots_) {
    if (!slot.Gathering) continue;
    slot.Gathering = false;
    Keep(slot, slot.Candidate.TakeAtLineEnd());
  }
}

void IniScanner::Feed(std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    if (state_ == State::LineStart) {
      // Whole lines in the piece are looked at where they lie; only a line that goes on in the
      // next piece is gathered by the states below.
      while (const auto* newline = static_cast<const char*>(
                 std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) {
        Line(std::string_view(at, static_cast<std::size_t>(newline - at)));
        at = newline + 1;
      }
      if (at == end) return;
    }
    switch (state_) {
      case State::LineStart:
        if (*at == '[') {
          state_ = State::Header;
          ++at;
        } else {
          prefix_.clear();
          state_ = State::Prefix;
        }
        break;
      case State::Prefix: {
        // The line's first bytes, as many as the longest key and its '=' take, decide whether it
        // is a key line; a shorter line is looked at whole.
        const std::size_t wanted =
            std::min(prefixLimit_ - prefix_.size(), static_cast<std::size_t>(end - at));
        const auto* newline = static_cast<const char*>(std::memchr(at, '\n', wanted));
        if (newline != nullptr) {
          prefix_.append(at, newline);
          at = newline + 1;
          Line(prefix_);
          state_ = State::LineStart;
        } else {
          prefix_.append(at, wanted);
          at += wanted;
          if (prefix_.size() == prefixLimit_) StartValues();
        }
        break;
      }
      case State::Header: {
        const char* stop = at;
        while (stop < end && *stop != ']' && *stop != '\n') ++stop;
        header_.Append(std::string_view(at, static_cast<std::size_t>(stop - at)));
        at = stop;
        if (at == end) break;
        const bool closed = *at == ']';
        currentSection_ = closed ? header_.TakeAtBracket() : header_.TakeAtLineEnd();
        state_ = closed ? State::Skip : State::LineStart;
        ++at;
        break;
      }
      case State::Value: {
        const auto* newline =
            static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        const char* stop = newline != nullptr ? newline : end;
        const std::string_view piece(at, static_cast<std::size_t>(stop - at));
        for (Slot& slot : slots_) {
          if (slot.Gathering) slot.Candidate.Append(piece);
        }
        at = stop;
        if (newline == nullptr) break;
        ++at;
        EndValues();
        state_ = State::LineStart;
        break;
      }
      case State::Skip: {
        const auto* newline =
            static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        at = newline != nullptr ? newline + 1 : end;
        if (newline != nullptr) state_ = State::LineStart;
        break;
      }
    }
  }
}

void IniScanner::Finish() {
  switch (state_) {
    case State::Prefix:
      Line(prefix_);
      break;
    case State::Header:
      currentSection_ = header_.TakeAtLineEnd();
      break;
    case State::Value:
      EndValues();
      break;
    case State::LineStart:
    case State::Skip:
      break;
  }
  state_ = State::LineStart;
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
