# Wine helpers shared by the scripts and the CTest wrapper.
# Wine's helper processes keep inherited pipes open, so output always goes to files.

: "${KESTRUNE_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${WINEPREFIX:=$KESTRUNE_ROOT/build/wineprefix}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
# No desktop integration, no Mono or Gecko prompts in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"

wine64_loader=/usr/lib/wine/wine64
wine32_loader=/usr/bin/wine

# Prints "x86" or "x64" for a PE file.
pe_machine() {
  local off machine
  off=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  machine=$(od -An -t x2 -j $((off + 4)) -N 2 "$1" | tr -d ' ')
  case "$machine" in
    014c) echo x86 ;;
    8664) echo x64 ;;
    *) echo unknown ;;
  esac
}

# Creates the prefix once. With qemu-i386 registered, wineboot would also set up
# the 32-bit side under emulation (minutes); without it, seconds. 32-bit programs
# still run in the prefix afterwards.
ensure_wineprefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  local bm=/proc/sys/fs/binfmt_misc/qemu-i386 was_enabled=0
  if [ -e "$bm" ] && [ "$(head -n 1 "$bm")" = enabled ]; then
    was_enabled=1
    echo 0 > "$bm"
  fi
  echo "kestrune: creating Wine prefix $WINEPREFIX" >&2
  "$wine64_loader" wineboot -i > "$(dirname "$WINEPREFIX")/wineboot.log" 2>&1
  wineserver -w
  [ "$was_enabled" = 1 ] && echo 1 > "$bm"
  [ -f "$WINEPREFIX/system.reg" ]
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
}
