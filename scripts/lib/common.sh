# What every script of scripts/ starts with: strict mode, the repository as KESTRUNE_ROOT and
# the current folder, the shared helpers, die, and the table of targets. Sourced first:
#   . "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
set -euo pipefail
KESTRUNE_ROOT=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
export KESTRUNE_ROOT
cd "$KESTRUNE_ROOT"
mkdir -p build
. scripts/lib/install.sh
. scripts/lib/build.sh
. scripts/lib/wine.sh
. scripts/lib/display.sh

# Ends the script with a message on standard error.
die() {
  echo "$*" >&2
  exit 1
}

# The targets, by test preset: the compilers' triplet, the release preset and the archive's
# architecture name.
declare -A target_triplet=([x86_64]=x86_64-w64-mingw32 [i686]=i686-w64-mingw32)
declare -A target_release_preset=([x86_64]=x86_64-release [i686]=i686-release)
declare -A target_archive_arch=([x86_64]=x64 [i686]=x86)
