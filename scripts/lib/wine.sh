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

# An unhandled exception in a test program must end it at once: Wine's default starts its
# debugger, which under emulation can wait for ever (and elsewhere shows a crash dialog).
# A debugger command that cannot start makes Wine end the process with the exception's code.
no_debugger=kestrune-tests-start-no-debugger
disable_crash_debugger() {
  [ "$(grep -c "\"Debugger\"=\"$no_debugger\"" "$WINEPREFIX/system.reg" 2>/dev/null)" -ge 2 ] && return 0
  local key='Microsoft\Windows NT\CurrentVersion\AeDebug' file
  file=$(mktemp "${TMPDIR:-/tmp}/kestrune-aedebug.XXXXXX")
  # Both registry views: 32-bit programs read the Wow6432Node copy.
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\%s]\n"Debugger"="%s"\n"Auto"="1"\n\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\%s]\n"Debugger"="%s"\n"Auto"="1"\n' \
    "$key" "$no_debugger" "$key" "$no_debugger" > "$file"
  "$wine64_loader" regedit /S "Z:$file" > "$(dirname "$WINEPREFIX")/regedit.log" 2>&1
  wineserver -w
  rm -f "$file"
  [ "$(grep -c "\"Debugger\"=\"$no_debugger\"" "$WINEPREFIX/system.reg")" -ge 2 ]
}

# Creates the prefix once, with both sides: a prefix made while 32-bit programs could not
# start has no syswow64, and every 32-bit program then fails to load kernel32.dll. Setting up
# the 32-bit side runs emulated (about half a minute with qemu-user 10).
has_both_sides() {
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
}

ensure_wineprefix() {
  has_both_sides && { disable_crash_debugger; return; }
  if [ -e "$WINEPREFIX" ]; then
    # Only the build tree's own prefix is ever made afresh.
    case "$WINEPREFIX" in
      "$KESTRUNE_ROOT"/build/*) wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX" ;;
      *) echo "kestrune: $WINEPREFIX has no 32-bit side; remove it or choose another WINEPREFIX" >&2; return 1 ;;
    esac
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  echo "kestrune: creating Wine prefix $WINEPREFIX" >&2
  "$wine64_loader" wineboot -i > "$(dirname "$WINEPREFIX")/wineboot.log" 2>&1
  wineserver -w
  has_both_sides || { echo "kestrune: the prefix has no 32-bit side: can 32-bit programs start (qemu-i386)?" >&2; return 1; }
  disable_crash_debugger
}

# CTest hands each test one desktop, as CTEST_RESOURCE_GROUP_0_DESKTOP ("id:N,slots:1");
# scripts/test names desktop N's display and prefix in KESTRUNE_DISPLAY_N and KESTRUNE_PREFIX_N.
# A run by hand names none: DISPLAY and WINEPREFIX then stay as they are.
take_desktop() {
  local given="${CTEST_RESOURCE_GROUP_0_DESKTOP:-}" id display prefix
  [ -n "$given" ] || return 0
  id=${given#id:}; id=${id%%,*}
  display="KESTRUNE_DISPLAY_$id"; prefix="KESTRUNE_PREFIX_$id"
  [ -n "${!display:-}" ] && [ -n "${!prefix:-}" ] || return 0
  export DISPLAY="${!display}" WINEPREFIX="${!prefix}"
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
}
