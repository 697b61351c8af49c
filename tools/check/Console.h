// The checker's dealings with the console and with its own program file, which differ between
// the systems.
#pragma once

#include <string>
#include <vector>

namespace vesperline::check {

// The program's arguments as UTF-8, the program's own name first. On Windows they are taken from
// the wide command line, since the narrow ones lose every character outside the system's code
// page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Writes UTF-8 text to standard output so that a console shows its characters as they are.
void WriteOut(const std::string& text);

// The folder that holds the checker's own executable, as UTF-8; empty when the system cannot
// tell.
std::string ProgramFolder();

}  // namespace vesperline::check
