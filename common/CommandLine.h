// The command line of a Linux process, in the form the plugin reads launch arguments from.
#pragma once

#include <string>
#include <string_view>

namespace vesperline {

// The single line a Windows process would see, rebuilt from the arguments a Linux process was
// started with, as /proc/<id>/cmdline gives them: separated (and ended) by NUL bytes. The
// arguments are joined with one space each, the way Wine builds the command line of a Windows
// program from the same arguments: an argument that is empty or holds a space or tab goes in
// double quotes; a double quote inside an argument is written \" with the backslashes right
// before it doubled; backslashes right before a closing quote are doubled. So the plugin built for
// Linux reads the same line as the Windows plugin started with these arguments under Wine.
std::string JoinProcessArguments(std::string_view nulSeparated);

}  // namespace vesperline
