# Configures and builds one target with its CMake preset; further arguments name more
# targets to build beside the default ones (benchmarks, say).
build_preset() {
  local preset="$1"
  shift
  local more=()
  [ $# -gt 0 ] && more=(--target all "$@")
  (cd "$KESTRUNE_ROOT" &&
    cmake --preset "$preset" > "build/configure-$preset.log" 2>&1 ||
    { cat "build/configure-$preset.log" >&2; return 1; }) || return 1
  (cd "$KESTRUNE_ROOT" && cmake --build --preset "$preset" "${more[@]}" -- -k 0) || return 1
}
