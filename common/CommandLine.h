// The command line of a Linux process, in the form the plugin reads launch arguments from.
#pragma once

#include <string>
#include <string_view>

namespace vesperline {

// The single line a Windows process would see, rebuilt from the arguments a Linux process was
// started with, as /proc/<id>/cmdline gives them: separated (and ended) by NUL bytes. The
// arguments are joined with one space each; the first, the executable path, is put in double
// quotes when it holds a space. The others are taken as they are, so that a value with a space
// reads as a hosting panel writes it unquoted.
std::string JoinProcessArguments(std::string_view nulSeparated);

}  // namespace vesperline
