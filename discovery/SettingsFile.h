// Reading single values out of the server's INI-style settings file.
#pragma once

#include <string>
#include <string_view>

namespace vesperline {

// The value of key in the given settings text: the last value of the key inside section when
// that is not empty, otherwise the first non-empty value of the key anywhere else (or anywhere at
// all when section is empty); empty text when neither exists. Keys match without regard to ASCII
// case; sections match exactly. A key line is one that begins with the key directly followed by
// '='; a line beginning with '[' is a section header.
std::string FindIniValue(std::string_view text, std::string_view key, std::string_view section);

// FindIniValue over the file at path, read afresh; empty text when the file cannot be read.
std::string ReadIniValue(const std::string& path, const std::string& key,
                         const std::string& section);

}  // namespace vesperline
