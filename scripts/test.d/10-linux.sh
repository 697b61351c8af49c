# The whole suite, built with g++ as the plugin ships.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
configure_and_build "$root/build/gcc" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++
run_ctest linux-gcc "$root/build/gcc"
