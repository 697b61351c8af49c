# The whole suite with clang under AddressSanitizer and UndefinedBehaviorSanitizer, in a Debug
# build, where the standard library checks its preconditions too; then the threaded tests with g++
# under ThreadSanitizer.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
configure_and_build "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
run_ctest asan-ubsan-clang "$root/build/asan"

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
configure_and_build "$root/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
  "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer"
run_ctest tsan-gcc "$root/build/tsan" -L threaded
