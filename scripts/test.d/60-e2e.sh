# End to end: the plugin built with g++ (by the Linux stage) runs in the development host, and its
# heartbeats go over HTTPS to the local receiver, which checks them strictly. About 70 seconds: one
# case runs a whole heartbeat minute while the short ones run beside it.
# E2E_BUILD_DIR points the stage at another Linux build.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

build=${E2E_BUILD_DIR:-$root/build/gcc}
if [ ! -x "$build/tools/vesperline-devhost" ]; then
  echo "e2e: $build/tools/vesperline-devhost is missing (is libcurl4-openssl-dev installed?)"
  echo "e2e 0 1" >>"$results"
  exit 1
fi
/usr/bin/python3 "$root/tests/e2e/e2e.py" --build "$build" --results "$results"
