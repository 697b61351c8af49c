// Command lines an admin gives the checker by hand, pasted from a .bat file, where cmd's own
// launcher word may stand in front of the server's command line.
#pragma once

#include <string>
#include <string_view>

namespace vesperline::check {

// A pasted command line without cmd's `start`, its window title and its switches, which cmd
// takes for itself and never passes to the program it starts.
struct PastedLine {
  std::string Line;     // the command line the server gets
  std::string Dropped;  // what was dropped in front of it, as written; empty when nothing was
};

// Drops `start` (any case), the quoted window title that may follow it, and the switches after
// that (/min, /high, /affinity N, /d folder...), as cmd does; a line that does not begin with
// `start` comes back unchanged.
PastedLine WithoutStart(std::string_view line);

}  // namespace vesperline::check
