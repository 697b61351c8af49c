// Text from outside (paths, the command line, the server's files) as a terminal shows it
// harmlessly, so that a control sequence in a server's file cannot act on the admin's terminal.
#pragma once

#include <string>
#include <string_view>

namespace vesperline::check {

// The text with every control character (C0, DEL and C1) as a \u00XX escape, bytes that are not
// UTF-8 read as Latin-1 as the heartbeat reads them; backslashes and quotes stay as they are, so
// that paths read as written.
std::string Printable(std::string_view text);

// Valid UTF-8 with DEL and the C1 controls (U+0080 to U+009F) escaped as \u00XX: JSON and
// EscapeJson let them through, and a terminal may act on them (U+009B starts a control sequence
// on some).
std::string EscapeDelAndC1(std::string_view utf8);

}  // namespace vesperline::check
