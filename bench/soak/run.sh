#!/usr/bin/env bash
# The long reliability runs at their full counts: the soak (1000 start/stop cycles, 500
# pause/resume pairs, 200 force stops) and the close of 1000 daemons. Builds the x64 target
# (the 32-bit one runs under emulation here and would take hours), starts its own display
# when none is set, and writes the figures to build/x86_64/soak-results.txt.
# Also a stop that hangs, waited out for its 30 s on the real host, and what the system
# keeps of a thread ended by force, measured without the host.
# busy: the busy daemons through the real window at full counts; busy-core: the same counts
# through the host's core in-process, on the x64 build, and then the 32-bit one: the pairs in one
# process, the force stops in seven of 15 a kind, since under Wine each ended thread keeps its
# stack and one 32-bit process has room for about 80 (KESTRUNE_BUSY_CORE_I686_PROCESSES sets how
# many; 0 leaves the 32-bit run out).
#   bench/soak/run.sh [soak|load|hung|terminate|busy|busy-core]...   (all by default)
set -uo pipefail
KESTRUNE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export KESTRUNE_ROOT
cd "$KESTRUNE_ROOT"
. scripts/lib/install.sh
. scripts/lib/build.sh
. scripts/lib/wine.sh
. scripts/lib/display.sh

runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(soak load hung terminate busy busy-core)
install_all || { echo "soak: could not install the tools" >&2; exit 1; }
build_preset x86_64 benchmarks || { echo "soak: build failed" >&2; exit 1; }
ensure_wineprefix || exit 1
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 1
  trap 'stop_wineserver; stop_xvfb' EXIT
fi

# Pairs, force stops and daemons per kind as busy_core_bench takes them, in fresh processes.
run_busy_core_i686() {
  local processes=${KESTRUNE_BUSY_CORE_I686_PROCESSES:-7} i
  [ "$processes" -gt 0 ] || return 0
  echo "32-bit, the pairs:"
  scripts/lib/wine-exec build/i686/bin/busy_core_bench.exe 500 0 5 || return 1
  for i in $(seq "$processes"); do
    echo "32-bit, force stops in process $i of $processes:"
    scripts/lib/wine-exec build/i686/bin/busy_core_bench.exe 0 15 5 || return 1
  done
}

results=build/x86_64/soak-results.txt
: > "$results"
status=0
for run in "${runs[@]}"; do
  started=$(date +%s)
  out=$(mktemp)
  # Wine's helper processes keep inherited pipes open: its output goes to a file.
  if [ "$run" = busy-core ]; then
    { build_preset i686 busy_core_bench > /dev/null &&
      scripts/lib/wine-exec build/x86_64/bin/busy_core_bench.exe &&
      run_busy_core_i686; } > "$out" 2>&1 || status=1
  else
    scripts/lib/wine-exec build/x86_64/bin/soak_bench.exe "$run" > "$out" 2>&1 || status=1
  fi
  grep -v '^[0-9a-f]*:fixme:' "$out" >> "$results"
  rm -f "$out"
  echo "  $run ran $(( $(date +%s) - started )) s in all" >> "$results"
done
cat "$results"
exit $status
