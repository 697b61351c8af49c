# Every C++ file follows the project's .clang-format.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
cd "$root"
files=$(git ls-files '*.h' '*.cpp' 2>/dev/null || find . -name '*.h' -o -name '*.cpp' | grep -v '^./build')
if clang-format --dry-run --Werror $files; then
  echo "format 1 0" >>"$results"
else
  echo "format 0 1" >>"$results"
  exit 1
fi
