// The command line of a process, in the two directions a Windows program and Wine take it: the
// arguments joined into the one line a Windows program gets, and that line split back into
// arguments as Windows splits it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline {

// The single line a Windows process would see, rebuilt from the arguments a Linux process was
// started with, as /proc/<id>/cmdline gives them: separated (and ended) by NUL bytes. The
// arguments are joined with one space each, the way Wine builds the command line of a Windows
// program from the same arguments: an argument that is empty or holds a space or tab goes in
// double quotes; a double quote inside an argument is written \" with the backslashes right
// before it doubled; backslashes right before a closing quote are doubled. So the plugin built for
// Linux reads the same line as the Windows plugin started with these arguments under Wine.
std::string JoinProcessArguments(std::string_view nulSeparated);

// One argument of a command line: what the program gets, and where it was written in the line
// (from Start up to, not including, End; quotes and backslashes included).
struct CommandLineArgument {
  std::string Value;
  std::size_t Start = 0;
  std::size_t End = 0;
};

// A command line split into its arguments.
struct SplitLine {
  // The program first, when the line holds anything at all.
  std::vector<CommandLineArgument> Arguments;
  // The line ended inside quotes: a quote was opened and never closed.
  bool EndsInsideQuotes = false;
  // Where that quote stands in the line.
  std::size_t UnclosedQuoteAt = 0;
};

// Splits a command line exactly as Windows' CommandLineToArgvW does (and Wine's shell32, which
// follows it). The program runs to its closing quote when it starts with one, else to the first
// space or tab, and knows no escapes. Then arguments end at spaces and tabs outside quotes.
// Backslashes count only right before a double quote: 2n of them give n backslashes and the quote
// opens or closes quoting; 2n+1 give n backslashes and a literal quote. In a run of quotes every
// third one is literal ("d""e" gives d"e). One pass, whatever the line holds.
// When sources is given, it receives for every byte of the arguments' values, in their order, the
// position in the line of the byte it was made from.
SplitLine SplitCommandLine(std::string_view line, std::vector<std::size_t>* sources = nullptr);

}  // namespace vesperline
