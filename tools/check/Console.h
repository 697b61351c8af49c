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

// True when the checker runs in a console window of its own, which closes the moment it ends: on
// Windows, no other program shares its console (started by a double-click in Explorer, a
// shortcut or the Run box), and both its output and its input are that console. False on Linux,
// under Wine, in a command prompt or terminal the checker shares with the program that started it,
// and whenever its output or input is a file or a pipe, as a script's is.
bool InAConsoleOfItsOwn();

// Asks for Enter and waits for it, or for the end of the input, so that the admin can read what
// the window shows before it closes.
void WaitForEnter();

}  // namespace vesperline::check
