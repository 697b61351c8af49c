#include "discovery/ServerLog.h"

#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "platform/Platform.h"

namespace vesperline {

namespace {

constexpr std::size_t kMarkerSize = kVersionMarker.size();
// The marker's rarest byte in a typical log; candidates are found by looking for it alone.
constexpr std::size_t kAnchor = 2;  // 'K'

bool IsTrimmed(char c) {
  return c == '\r' || c == '\n' || c == ' ';
}

// The length of the longest end of [data, data + size) that is a proper beginning of the marker.
// The marker's first byte occurs nowhere else in it, so there is at most one candidate.
std::size_t PartialMarkerAtEnd(const char* data, std::size_t size) {
  for (std::size_t length = std::min(size, kMarkerSize - 1); length > 0; --length) {
    if (std::memcmp(data + size - length, kVersionMarker.data(), length) == 0) return length;
  }
  return 0;
}

}  // namespace

void VersionScanner::EndCapture() {
  if (cut_) value_.resize(CompleteUtf8Length(value_));
  while (!value_.empty() && IsTrimmed(value_.back())) value_.pop_back();
  version_ = value_;
  value_.clear();
  cut_ = false;
  capturing_ = false;
}

void VersionScanner::Capture(const char* data, std::size_t size) {
  const std::size_t kept = std::min(kMaxVersionBytes - value_.size(), size);
  value_.append(data, kept);
  // Bytes past the limit are dropped; whether they were only bytes the trimming would have
  // removed anyway decides whether the value was cut.
  for (std::size_t i = kept; i < size && !cut_; ++i) cut_ = !IsTrimmed(data[i]);
}

void VersionScanner::Feed(const char* data, std::size_t size) {
  std::size_t pos = 0;
  // A marker begun at the end of the previous piece either goes on here or is no marker.
  if (partialMarker_ > 0) {
    const std::size_t missing = kMarkerSize - partialMarker_;
    const std::size_t available = std::min(missing, size);
    if (std::memcmp(data, kVersionMarker.data() + partialMarker_, available) != 0) {
      partialMarker_ = 0;
    } else if (available < missing) {
      partialMarker_ += available;
      return;
    } else {
      partialMarker_ = 0;
      capturing_ = true;
      pos = missing;
    }
  }

  while (pos < size) {
    if (capturing_) {
      const void* newline = std::memchr(data + pos, '\n', size - pos);
      if (newline == nullptr) {
        Capture(data + pos, size - pos);
        return;
      }
      const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(newline) - data);
      Capture(data + pos, end - pos);
      EndCapture();
      pos = end + 1;
      continue;
    }
    // Not in a marker line: any marker found from here is the first of its line.
    std::size_t searchFrom = pos + kAnchor;
    bool found = false;
    while (searchFrom < size) {
      const void* anchor =
          std::memchr(data + searchFrom, kVersionMarker[kAnchor], size - searchFrom);
      if (anchor == nullptr) break;
      const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(anchor) - data);
      const std::size_t start = at - kAnchor;
      if (start + kMarkerSize > size) break;  // may go on in the next piece
      if (std::memcmp(data + start, kVersionMarker.data(), kMarkerSize) == 0) {
        capturing_ = true;
        pos = start + kMarkerSize;
        found = true;
        break;
      }
      searchFrom = at + 1;
    }
    if (!found) {
      partialMarker_ = PartialMarkerAtEnd(data + pos, size - pos);
      return;
    }
  }
}

void VersionScanner::Finish() {
  if (capturing_) EndCapture();
  partialMarker_ = 0;
}

std::optional<std::string> FindVersionInLog(std::string_view text) {
  VersionScanner scanner;
  scanner.Feed(text.data(), text.size());
  scanner.Finish();
  return scanner.Version();
}

bool VersionLogReader::IsSameLog(platform::InputFile& file) {
  const std::optional<platform::FileIdentity> identity = file.Identity();
  char head[kHeadBytes];
  std::size_t got = 0;
  if (file.Seek(0)) {
    while (got < kHeadBytes) {
      const std::size_t more = file.Read(head + got, kHeadBytes - got);
      if (more == 0) break;
      got += more;
    }
  }
  const std::string_view now(head, got);
  // A file whose identity the system does not give is judged by its size and first bytes alone.
  const bool same = (!identity || !identity_ || *identity == *identity_) &&
                    file.SizeHint() >= text_.Position() && now.substr(0, head_.size()) == head_;
  identity_ = identity;
  head_.assign(now);
  return same;
}

std::optional<std::string> VersionLogReader::Scan(const std::string& path, FileRead* read) {
  platform::InputFile file(path);
  if (read != nullptr) *read = FileReadOf(file);
  if (!file.IsOpen()) {
    Reset();
    return std::nullopt;
  }
  if (!IsSameLog(file)) {
    text_.Reset();
    scanner_ = VersionScanner();
  }
  try {
    text_.ReadOn(file, [&](std::string_view text) { scanner_.Feed(text.data(), text.size()); });
  } catch (...) {
    // Part of a block may have been taken and part not: only a fresh start is sure to be right.
    Reset();
    throw;
  }
  // The answer for the log as it is now comes from copies, so that the next scan goes on from
  // here as if the log had never ended: a line, a marker, a UTF-16 unit or a surrogate pair that
  // the log's current end cuts may go on in what is appended next.
  ServerTextReader text = text_;
  VersionScanner scanner = scanner_;
  text.Finish([&](std::string_view rest) { scanner.Feed(rest.data(), rest.size()); });
  scanner.Finish();
  if (read != nullptr) read->Encoding = text.Encoding();
  return scanner.Version();
}

void VersionLogReader::Reset() {
  *this = VersionLogReader();
}

std::optional<std::string> ScanVersionLog(const std::string& path, FileRead* read) {
  return VersionLogReader().Scan(path, read);
}

}  // namespace vesperline
