# Installs everything the build and the tests need, idempotently.
# Sourced by scripts/run and scripts/test; expects to run as root on Debian 12.

kestrune_packages=(
  cmake ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest
  wine wine64 wine32:i386
  xvfb xauth xdotool x11-utils imagemagick
  python3 clang-format
)

# Packages whose status dpkg does not report as installed.
missing_packages() {
  local p
  for p in "${kestrune_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# A deb-src twin of the Debian sources entry, so pcre2's source can be fetched.
ensure_deb_src() {
  local twin=/etc/apt/sources.list.d/kestrune-debian-src.sources
  [ -f "$twin" ] && return 1
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$src" > "$twin"
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "${twin%.sources}.list"
    touch "$twin"
  fi
  return 0
}

# The i386 emulator comes from the release's backports: the release's own qemu-user (7.2)
# takes about a minute to start each 32-bit Wine program and now and then crashes one when a
# signal reaches one of its threads; 9.1 and later start one in seconds and run them reliably.
emulator_version=1:9.1
kestrune_qemu=/usr/bin/qemu-i386

release_codename() {
  (. /etc/os-release && echo "$VERSION_CODENAME")
}

has_emulator() {
  local installed
  installed=$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null) || return 1
  case "$installed" in "install ok installed "*) ;; *) return 1 ;; esac
  dpkg --compare-versions "${installed##* }" ge "$emulator_version"
}

# A twin of the Debian sources entry for the release's backports suite.
ensure_backports() {
  local twin=/etc/apt/sources.list.d/kestrune-debian-backports.sources
  [ -f "$twin" ] && return 1
  local codename
  codename=$(release_codename)
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    # The first entry that carries the release itself, moved to its backports suite.
    awk -v suite="$codename-backports" -v rel="$codename" '
      BEGIN { RS = ""; ORS = "\n\n" }
      !done && /(^|\n)Types: deb(\n|$)/ && $0 ~ ("Suites:.*(^| )" rel "( |$|\n)") {
        sub(/Suites: [^\n]*/, "Suites: " suite); print; done = 1 }' "$src" > "$twin"
  else
    grep -E "^deb .* $codename( |$)" /etc/apt/sources.list | head -n 1 |
      sed "s/ $codename / $codename-backports /" > "${twin%.sources}.list"
    touch "$twin"
  fi
  return 0
}

install_emulator() {
  has_emulator && return 0
  local codename
  codename=$(release_codename)
  ensure_backports || true
  echo "kestrune: installing qemu-user from $codename-backports" >&2
  update_package_lists
  apt_install -t "$codename-backports" qemu-user >/dev/null
  has_emulator || { echo "kestrune: no qemu-user $emulator_version or later" >&2; return 1; }
}

# A mirror caught mid-sync serves a list that does not match its index ("Mirror sync in
# progress?"), and may settle within a minute. What still fails is left out: apt goes on with
# the lists it has, and install_missing copes with the gap.
kestrune_update_tries=3
kestrune_update_pause=15
update_package_lists() {
  local log try
  log=$(mktemp)
  for ((try = 1; try <= kestrune_update_tries; try++)); do
    if apt-get update -qq > "$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$try" -lt "$kestrune_update_tries" ] && sleep "$kestrune_update_pause"
  done
  echo "kestrune: some package lists could not be fetched; going on without them:" >&2
  grep -E '^(E|W): Failed' "$log" >&2 || cat "$log" >&2
  rm -f "$log"
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
}

# Installs the packages named. Without one architecture's list of a suite (the security
# suite's i386 list, say), a package and its i386 twin cannot be given the same version, as
# Multi-Arch requires of wine32's libraries: then the release's own versions, which every
# architecture's list holds, are installed instead.
install_missing() {
  local log status=0
  log=$(mktemp)
  if ! apt_install "$@" > "$log" 2>&1; then
    echo "kestrune: the newest versions do not fit together; installing $(release_codename)'s own" >&2
    apt_install -t "$(release_codename)" "$@" > "$log" 2>&1 || { cat "$log" >&2; status=1; }
  fi
  rm -f "$log"
  return $status
}

install_packages() {
  local need_update=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
  fi
  ensure_deb_src && need_update=1
  local missing
  missing=$(missing_packages)
  if [ -n "$missing" ]; then
    need_update=1
  fi
  if [ "$need_update" = 1 ]; then
    echo "kestrune: apt-get update" >&2
    update_package_lists
  fi
  if [ -n "$missing" ]; then
    echo "kestrune: installing" $missing >&2
    # shellcheck disable=SC2086 # one word per package
    install_missing $missing || return 1
  fi
}

# The pcre2 source tarball, kept in the build tree and never committed.
fetch_pcre2_source() {
  local dir="$1"
  mkdir -p "$dir"
  if ls "$dir"/pcre2_*.orig.tar.* >/dev/null 2>&1; then
    return 0
  fi
  # The main suite's version: the security mirror has lacked the newer source files.
  local version
  version=$(apt-cache showsrc pcre2 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | head -n 1)
  [ -n "$version" ] || { echo "kestrune: no source entry for pcre2" >&2; return 1; }
  (cd "$dir" && apt-get source --download-only "pcre2=$version" >/dev/null 2>&1) || {
    echo "kestrune: could not fetch the pcre2 source ($version)" >&2; return 1; }
  ls "$dir"/pcre2_*.orig.tar.* >/dev/null 2>&1
}

# Lets 32-bit Linux programs (Wine's 32-bit loader) run through qemu-user.
ensure_binfmt_i386() {
  local bm=/proc/sys/fs/binfmt_misc
  if [ ! -e "$bm/register" ]; then
    mount -t binfmt_misc binfmt_misc "$bm" 2>/dev/null || true
  fi
  if [ ! -e "$bm/register" ]; then
    echo "kestrune: binfmt_misc cannot be mounted; 32-bit programs cannot run here" >&2
    return 1
  fi
  # An entry for another interpreter (an older emulator) gives way to ours.
  if [ -e "$bm/qemu-i386" ] && ! grep -qx "interpreter $kestrune_qemu" "$bm/qemu-i386"; then
    echo -1 > "$bm/qemu-i386"
  fi
  if [ ! -e "$bm/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$kestrune_qemu"':F' \
      > "$bm/register" 2>/dev/null || true
  fi
  if [ ! -e "$bm/qemu-i386" ]; then
    echo "kestrune: could not register qemu-i386 with binfmt_misc" >&2
    return 1
  fi
  [ "$(head -n 1 "$bm/qemu-i386")" = enabled ] || echo 1 > "$bm/qemu-i386"
}

install_all() {
  install_packages || return 1
  install_emulator || return 1
  fetch_pcre2_source "$KESTRUNE_ROOT/build/deps" || return 1
}
