# Shared by the scripts: where things are, and one way to configure, build and run the tests.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
results="$root/build/test-results.txt"

# configure_and_build DIR [cmake arguments...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || {
    cat "$dir.configure.log"
    return 1
  }
  cmake --build "$dir"
}

# run_ctest NAME DIR [ctest arguments...]: runs the tests and keeps the counts for the summary.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  local log="$dir.ctest.log" status=0
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log" || status=1
  local line total failed
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  if [ -z "$line" ]; then
    total=1
    failed=1
  fi
  echo "$name $((total - failed)) $failed" >>"$results"
  return $status
}
