// What stands where a file the plugin reads should be, in the words the checker tells it with.
#pragma once

#include <optional>
#include <string>

#include "discovery/ServerFile.h"

namespace vesperline::check {

// Another program holds the file open and lets no one else read it (Windows' sharing rules).
bool HeldOpen(const FileRead& read);

// How a file the plugin reads was found, for a reader: "found, read as plain", "not found", "a
// directory, not a file", ...
std::string FileState(const FileRead& read);

// The target of a link, as the link itself writes it.
struct Link {
  std::string Target;
  // The link leads, in one or more steps, to a name that stands for the output (or input) of
  // whichever program opens it, as container images link the server's log to their own output.
  // The checker opening it gets its own output, which says nothing of what the server gets.
  bool ToOwnStream = false;
};

// The link at path, followed a few steps to see where it leads; nothing when path is no link.
std::optional<Link> LinkAt(const std::string& path);

// The path is a link that leads, in one or more steps, to the output (or input) of whichever
// program opens it, as container images link the server's log to their own output.
bool IsOwnStreamLink(const std::string& path);

}  // namespace vesperline::check
