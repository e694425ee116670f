#!/usr/bin/env bash
# Runs the benchmarks on the x64 build under Wine and writes their CSV files into
# bench/results/, then draws the plots. Needs an X display (the host shows its window).
#   bench/run_benchmarks.sh [discovery|startup|refresh|rows|latency|cost|platform|capacity|plots]...
# With no argument every x64 benchmark runs (about an hour on a quiet machine with two
# cores). "capacity" starts the 32-bit host with more daemons than it can hold; under
# qemu-user emulation that takes long, so it runs only when named.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
results=$root/bench/results
bin=$root/build/x86_64/bin
bin32=$root/build/i686/bin
run() { "$root/scripts/lib/wine-exec" "$@"; }
csv() { echo "Z:$results/$1"; }
mkdir -p "$results"
cd "$root" && cmake --build --preset x86_64 --target benchmarks > "$results/build.log" 2>&1 ||
  { cat "$results/build.log" >&2; echo "run_benchmarks: the x64 benchmarks do not build" >&2; exit 1; }
for s in "$@"; do
  [ "$s" = capacity ] && { cmake --build --preset i686 --target cost_bench > "$results/build-i686.log" 2>&1 || exit 1; }
done

step() {
  case "$1" in
    discovery) run "$bin/discovery_bench.exe" 9 > "$results/discovery.txt" ;;
    startup) run "$bin/startup_bench.exe" --repeat 5 --csv "$(csv startup.csv)" 1 10 100 1000 2000 ;;
    refresh) run "$bin/refresh_bench.exe" --rounds 3 --seconds 30 --shown-seconds 10 --csv "$(csv refresh.csv)" 1 1000 ;;
    rows)
      # The refresh's cost by rows, each count in a process of its own.
      out=$results/refresh_rows.csv; : > "$out"
      for rows in 100 500 1000 2000; do
        run "$bin/host_profile.exe" --rows "$rows" --passes 20 --timer-seconds 5 --csv "$(csv refresh_rows_$rows.csv)"
        if [ -s "$out" ]; then tail -n +3 "$results/refresh_rows_$rows.csv" >> "$out"; else cat "$results/refresh_rows_$rows.csv" > "$out"; fi
        rm -f "$results/refresh_rows_$rows.csv"
      done ;;
    latency)
      run "$bin/latency_bench.exe" --trials 6 --closes 2 --csv "$(csv latency.csv)" 1 10 100 1000 2000
      run "$bin/latency_bench.exe" --trials 6 --closes 2 --timer-period 1 --csv "$(csv latency_1ms.csv)" 1 10 100 1000 ;;
    cost) run "$bin/cost_bench.exe" --csv "$(csv cost.csv)" 0 100 1000 ;;
    platform) run "$bin/platform_bench.exe" --timer-seconds 10 --csv "$(csv platform.csv)" ;;
    capacity) run "$bin32/cost_bench.exe" --capacity 1500 --quiet-seconds 180 --csv "$(csv capacity_i686.csv)" ;;
    plots) python3 "$root/bench/plot_results.py" "$results" "$root/docs/performance" ;;
    *) echo "run_benchmarks: unknown step $1" >&2; return 2 ;;
  esac
}

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(discovery startup refresh rows latency cost platform plots)
for s in "${steps[@]}"; do
  echo "== $s" >&2
  step "$s" > "$results/$s.log" 2>&1 || echo "run_benchmarks: $s ended with $?" >&2
done
