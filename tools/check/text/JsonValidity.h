// Whether a text is valid JSON, and where it first is not, for an admin who edits config.json by
// hand. The plugin itself reads config.json without a JSON parser (it looks for each of its keys),
// so a file it reads well may still be no JSON; what an editor or a template tool makes of such a
// file is another matter, and a fault the plugin passes over may hide a value the admin meant to
// give (a placeholder left where a number belongs, say).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesperline::check {

// What kind of fault it is, so that a warning can say what it means for the plugin, which
// passes over some of them, and leave to other warnings the faults they name in their own words.
enum class JsonFaultKind {
  kSyntax,          // anything else: a placeholder or a word where a value belongs, a quote...
  kComment,         // a comment (// or /*), which JSON does not have
  kCommaAfterLast,  // a comma after an object's last member or an array's last element
  kCommaMissing,    // a member's name right after the value before it
  kText,            // bytes that are no UTF-8, or a control character inside a text
};

// The first place where a text stops being JSON.
struct JsonFault {
  std::size_t Offset = 0;  // in bytes, from 0
  std::size_t Line = 1;    // from 1; a line ends at LF, at CR LF, or at a CR alone
  std::size_t Column = 1;  // in characters, from 1, as an editor counts them
  // What stands there, as a clause: "${GAME_PORT} stands where a value belongs", "a comma
  // follows the last member, before '}'".
  std::string What;
  JsonFaultKind Kind = JsonFaultKind::kSyntax;
};

// Reads text as exactly one JSON text, as RFC 8259 defines it (white space, one value, white
// space; texts in UTF-8 with no raw control character and no unpaired surrogate escape), without
// recursion, so that any input is read in time and memory linear in its size. Nothing when the
// text is valid.
std::optional<JsonFault> FirstJsonFault(std::string_view text);

}  // namespace vesperline::check
