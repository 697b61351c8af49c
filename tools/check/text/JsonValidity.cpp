#include "tools/check/text/JsonValidity.h"

#include <vector>

#include "tools/check/text/Sentences.h"

namespace vesperline::check {

namespace {

bool IsJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsStructural(char c) {
  return c == '{' || c == '}' || c == '[' || c == ']' || c == ':' || c == ',' || c == '"';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string CodeName(unsigned code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(code >> shift) & 0xF];
  return name;
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 when none begins there.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  const std::size_t length = lead < 0xC2   ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
  const unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

// What a value, a member name or a separator is expected as, for a sentence.
enum class Expected { kValue, kName, kColon, kAfterMember, kAfterElement };

std::string_view ExpectedWords(Expected expected) {
  switch (expected) {
    case Expected::kValue:
      return "a value";
    case Expected::kName:
      return "a member name in double quotes";
    case Expected::kColon:
      return "':'";
    case Expected::kAfterMember:
      return "',' or '}'";
    case Expected::kAfterElement:
      return "',' or ']'";
  }
  return "a value";
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonFault> Read() {
    // What comes next: a value, a member's name, or what follows a value.
    enum class Step { kValue, kName, kAfterValue } step = Step::kValue;
    // Where the last comma stood, while nothing but white space followed it.
    std::optional<std::size_t> comma;
    std::vector<char> open;  // '{' or '[' for each container not closed yet
    for (;;) {
      SkipSpace();
      if (step == Step::kAfterValue && open.empty()) {
        if (at_ == text_.size()) return std::nullopt;
        return StrayHere(" follows the end of the JSON value");
      }
      if (at_ == text_.size()) {
        const Expected expected = step == Step::kValue  ? Expected::kValue
                                  : step == Step::kName ? Expected::kName
                                  : open.back() == '{'  ? Expected::kAfterMember
                                                        : Expected::kAfterElement;
        return Fault(at_, Enclosed("the file ends where ", ExpectedWords(expected), " belongs"));
      }
      const char c = text_[at_];
      if (step == Step::kAfterValue) {
        const bool object = open.back() == '{';
        if (c == ',') {
          comma = at_++;
          step = object ? Step::kName : Step::kValue;
        } else if (c == (object ? '}' : ']')) {
          ++at_;
          open.pop_back();
        } else if (object && c == '"') {
          return Fault(
              at_, "a member name stands where ',' or '}' belongs: a comma is missing before it",
              JsonFaultKind::kCommaMissing);
        } else {
          return Unexpected(object ? Expected::kAfterMember : Expected::kAfterElement);
        }
        continue;
      }
      // After a comma, a closing bracket is the common mistake of a comma after the last member.
      const std::optional<std::size_t> commaBefore = comma;
      comma.reset();
      if (step == Step::kName) {
        if (c == '}' && commaBefore) {
          return Fault(*commaBefore, "a comma follows the last member, before '}'",
                       JsonFaultKind::kCommaAfterLast);
        }
        if (c != '"') return Unexpected(Expected::kName);
        if (std::optional<JsonFault> fault = SkipString()) return fault;
        SkipSpace();
        if (at_ == text_.size()) {
          return Fault(
              at_, Enclosed("the file ends where ", ExpectedWords(Expected::kColon), " belongs"));
        }
        if (text_[at_] != ':') return Unexpected(Expected::kColon);
        ++at_;
        step = Step::kValue;
        continue;
      }
      // A value.
      if (c == ']' && commaBefore && !open.empty() && open.back() == '[') {
        return Fault(*commaBefore, "a comma follows the last element, before ']'",
                     JsonFaultKind::kCommaAfterLast);
      }
      if (c == '{' || c == '[') {
        open.push_back(c);
        ++at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == (c == '{' ? '}' : ']')) {
          ++at_;
          open.pop_back();
          step = Step::kAfterValue;
        } else {
          step = c == '{' ? Step::kName : Step::kValue;
        }
        continue;
      }
      std::optional<JsonFault> fault;
      if (c == '"') {
        fault = SkipString();
      } else if (c == '-' || IsDigit(c)) {
        fault = SkipNumber();
      } else if (!SkipWord("true") && !SkipWord("false") && !SkipWord("null")) {
        return Unexpected(Expected::kValue);
      }
      if (fault) return fault;
      step = Step::kAfterValue;
    }
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() && IsJsonSpace(text_[at_])) ++at_;
  }

  bool SkipWord(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  // A text in double quotes, from its opening quote to past its closing one.
  std::optional<JsonFault> SkipString() {
    const std::size_t open = at_++;
    while (at_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return std::nullopt;
      }
      if (c < 0x20) {
        JsonFault fault =
            Fault(at_, "a text in double quotes holds a control character (" + CodeName(c) +
                           "), which JSON allows only as an escape such as \\n");
        fault.Kind = JsonFaultKind::kText;
        return fault;
      }
      if (c >= 0x80) {
        const std::size_t length = Utf8Length(text_, at_);
        if (length == 0) {
          JsonFault fault = Fault(at_, "a text in double quotes holds bytes that are no UTF-8");
          fault.Kind = JsonFaultKind::kText;
          return fault;
        }
        at_ += length;
        continue;
      }
      if (c != '\\') {
        ++at_;
        continue;
      }
      if (std::optional<JsonFault> fault = SkipEscape()) return fault;
    }
    return Fault(open, "a text in double quotes begins that is never closed");
  }

  // An escape, from its backslash on.
  std::optional<JsonFault> SkipEscape() {
    const std::size_t start = at_;
    if (at_ + 1 >= text_.size()) return Fault(start, "the file ends inside an escape");
    const char letter = text_[at_ + 1];
    if (std::string_view("\"\\/bfnrt").find(letter) != std::string_view::npos) {
      at_ += 2;
      return std::nullopt;
    }
    if (letter != 'u') {
      return Fault(start, "a backslash begins an escape JSON does not know, \\" +
                              std::string(1, letter) +
                              " (a backslash itself, as in a Windows path, is written \\\\)");
    }
    const std::optional<unsigned> unit = HexUnit(at_ + 2);
    if (!unit) return Fault(start, "an escape \\u is not followed by four hexadecimal digits");
    at_ += 6;
    if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
      return Fault(start, "the escape of " + CodeName(*unit) +
                              ", the second half of a surrogate pair, stands without its first");
    }
    if (*unit < 0xD800 || *unit > 0xDBFF) return std::nullopt;
    const std::optional<unsigned> low =
        text_.substr(at_, 2) == "\\u" ? HexUnit(at_ + 2) : std::nullopt;
    if (!low || *low < 0xDC00 || *low > 0xDFFF) {
      return Fault(start, "the escape of " + CodeName(*unit) +
                              ", the first half of a surrogate pair, stands without its second");
    }
    at_ += 6;
    return std::nullopt;
  }

  std::optional<unsigned> HexUnit(std::size_t at) const {
    if (at + 4 > text_.size()) return std::nullopt;
    unsigned unit = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
      const int digit = HexValue(text_[i]);
      if (digit < 0) return std::nullopt;
      unit = unit * 16 + static_cast<unsigned>(digit);
    }
    return unit;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  std::optional<JsonFault> SkipNumber() {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
      return at_ > from;
    };
    const auto wrong = [&] {
      return Fault(start,
                   "a number is written as JSON does not allow (it takes no '+', no 0 before "
                   "other digits, and digits on both sides of a '.')");
    };
    if (text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
      if (at_ < text_.size() && IsDigit(text_[at_])) return wrong();
    } else if (!digits()) {
      return wrong();
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return wrong();
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return wrong();
    }
    return std::nullopt;
  }

  // What stands at text[at], for a sentence: a single quote, a control character, a structural
  // character, or the run of other characters there (a placeholder, a word).
  std::string Thing(std::size_t at) const {
    const auto c = static_cast<unsigned char>(text_[at]);
    const std::string_view rest = text_.substr(at);
    if (c == '\'') return "a single quote (')";
    if (c < 0x20 || c == 0x7F) return "a control character (" + CodeName(c) + ")";
    if (IsStructural(static_cast<char>(c))) return Enclosed("'", rest.substr(0, 1), "'");
    constexpr std::size_t kLongest = 40;
    std::size_t end = at;
    // A template's placeholder, ${NAME}, is shown whole.
    if (rest.starts_with("${")) {
      const std::size_t close = rest.find('}');
      if (close != std::string_view::npos && close < kLongest) end = at + close + 1;
    }
    while (end < text_.size() && end - at < kLongest && !IsJsonSpace(text_[end]) &&
           !IsStructural(text_[end]) && text_[end] != '\'') {
      const std::size_t length = Utf8Length(text_, end);
      end += length == 0 ? 1 : length;
    }
    std::string word(text_.substr(at, end - at));
    if (end < text_.size() && end - at >= kLongest && !IsJsonSpace(text_[end]) &&
        !IsStructural(text_[end])) {
      word += "...";
    }
    if (word == "True" || word == "False" || word == "Null" || word == "TRUE" || word == "FALSE" ||
        word == "NULL") {
      return "the word " + word + " (JSON writes true, false and null in small letters)";
    }
    return word;
  }

  // The fault of what stands at the current byte, in the place of what is expected there.
  JsonFault Unexpected(Expected expected) const {
    std::string where = Enclosed(" stands where ", ExpectedWords(expected), " belongs");
    if (text_[at_] == '\'' && (expected == Expected::kName || expected == Expected::kValue)) {
      where += ": JSON writes names and texts in double quotes";
    }
    return StrayHere(where);
  }

  // The fault of what stands at the current byte, followed by the rest of the sentence.
  JsonFault StrayHere(std::string_view rest) const {
    const auto c = static_cast<unsigned char>(text_[at_]);
    if (c >= 0x80 && Utf8Length(text_, at_) == 0) {
      JsonFault fault = Fault(at_, "bytes stand that are no UTF-8");
      fault.Kind = JsonFaultKind::kText;
      return fault;
    }
    const std::string_view here = text_.substr(at_);
    if (here.starts_with("//") || here.starts_with("/*")) {
      return Fault(at_,
                   Enclosed("a comment (", here.substr(0, 2), ") begins, which JSON does not have"),
                   JsonFaultKind::kComment);
    }
    return Fault(at_, Thing(at_) + std::string(rest));
  }

  // The fault at text[at], with its line and column.
  JsonFault Fault(std::size_t at, std::string what,
                  JsonFaultKind kind = JsonFaultKind::kSyntax) const {
    JsonFault fault;
    fault.Offset = at;
    fault.What = std::move(what);
    fault.Kind = kind;
    for (std::size_t i = 0; i < at; ++i) {
      const char c = text_[i];
      if (c == '\n' || (c == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n'))) {
        ++fault.Line;
        fault.Column = 1;
      } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
        ++fault.Column;
      }
    }
    return fault;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<JsonFault> FirstJsonFault(std::string_view text) {
  return Reader(text).Read();
}

}  // namespace vesperline::check
