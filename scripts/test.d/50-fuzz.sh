# Every libFuzzer target for a short while (20 seconds each, two at a time), from its seeds and
# kept regressions; scripts/fuzz runs them longer.
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
"$root/scripts/fuzz" "${FUZZ_SECONDS:-20}" --results "$results"
