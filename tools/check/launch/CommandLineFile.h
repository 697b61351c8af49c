// The server's command line read from a file (--command-line-file), as admins save it: PowerShell
// writes one line per server, wmic a header line above them or, with /value, "CommandLine=" before
// each, and an editor a line break at the end.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperline::check {

// What a command-line file gave: the command line, or why none can be taken.
struct FileCommandLine {
  std::optional<std::string> Line;
  // Which line was taken, when the file held several command lines; empty otherwise.
  std::string Which;
  // Why no line can be taken, for the admin; empty when one was.
  std::string Error;
};

// The command line in the text of a file: its one command line; or, of several, the one whose
// executable isServer says lies in this install's server folder (naming them when no line or
// several lines do). install names that folder in the sentences.
FileCommandLine PickCommandLine(std::string_view text, std::string_view install,
                                const std::function<bool(const std::string&)>& isServer);

// The same for the file at the UTF-8 path, the servers of the install running from one of
// folders; Error also says why the file cannot be read.
FileCommandLine CommandLineFromFile(const std::string& path,
                                    const std::vector<std::filesystem::path>& folders);

}  // namespace vesperline::check
