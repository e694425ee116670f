# Configures and builds one target with its CMake preset.
build_preset() {
  local preset="$1"
  (cd "$KESTRUNE_ROOT" &&
    cmake --preset "$preset" > "build/configure-$preset.log" 2>&1 ||
    { cat "build/configure-$preset.log" >&2; return 1; }) || return 1
  (cd "$KESTRUNE_ROOT" && cmake --build --preset "$preset" -- -k 0) || return 1
}
