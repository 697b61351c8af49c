// Paths as the checker takes them from the admin and shows them back: UTF-8 text on every system.
#pragma once

#include <filesystem>
#include <string>

namespace vesperline::check {

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// A path the plugin opens, as an admin would look for it: absolute, without "." and "..".
std::string ShownPath(const std::string& path);

// The plugin folder as the plugin keeps it: the text with the platform's separator added when it
// does not end with one.
std::string PluginDirFrom(std::string dir);

}  // namespace vesperline::check
