# The Windows build: cross-compiled with mingw-w64, the whole suite run under Wine (headless), and
# the release package checked.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"

dir="$root/build/windows"
started=$(date +%s)
# The Linux stage's build holds the test of the Linux checker against this build's programs run by
# Wine, which this stage's tests run.
configure_and_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DVESPERLINE_LINUX_BUILD="$root/build/gcc"
built=$(date +%s)

# One Wine server for the whole run, in the build folder's own prefix (the one cmake/wine-run
# uses). It and its services start detached from our pipes; otherwise they inherit them and ctest
# waits for them to close, forever.
export WINEPREFIX="$dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A server left running for this prefix (by a run that was interrupted, say) would make the start
# fail, so it is stopped first.
wineserver -k >/dev/null 2>&1 || true
start_wine() {
  if ! (wineserver -p && /usr/lib/wine/wine64 cmd /c exit) </dev/null >/dev/null 2>&1; then
    echo "windows: the Wine server for $WINEPREFIX does not start"
    echo "windows-wine 0 1" >>"$results"
    exit 1
  fi
}
start_wine
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# A second drive letter for drive C:, as SUBST or a mapped drive gives one on Windows, for the
# checker's test of a server started through another path to its folder. A Wine server keeps the
# drives it started with, so on the prefix's first run it is started anew once the letter is made.
if [ ! -L "$WINEPREFIX/dosdevices/y:" ]; then
  ln -s ../drive_c "$WINEPREFIX/dosdevices/y:"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  start_wine
fi

# A test that hangs under Wine fails after the timeout instead of holding up the whole run.
status=0
run_ctest windows-wine "$dir" --timeout 300 || status=1
echo "windows: build $((built - started)) s, tests under Wine $(($(date +%s) - built)) s"
exit $status
