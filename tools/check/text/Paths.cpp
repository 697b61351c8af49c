#include "tools/check/text/Paths.h"

#include <system_error>

#include "platform/Platform.h"

namespace vesperline::check {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ShownPath(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), error);
  if (error) return path;
  return Utf8FromPath(absolute.lexically_normal());
}

std::string PluginDirFrom(std::string dir) {
  const bool endsWithSeparator =
      !dir.empty() && (dir.back() == platform::kPathSeparator || dir.back() == '/');
  if (!endsWithSeparator) dir.push_back(platform::kPathSeparator);
  return dir;
}

}  // namespace vesperline::check
