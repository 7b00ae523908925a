#!/usr/bin/env bash
# Runs the same profile scripts through the POSIX implementation and through Windows' own profile
# functions (the MinGW build of profile_probe under Wine) and compares what they print and the
# files they leave, byte for byte.
#
#   profile_differential_test.sh LINUX_PROBE WINDOWS_PROBE [CASE...]
#
# CASE files default to cases/*.txt beside this script; they must agree. The cases in
# cases/known/ show where Wine differs on purpose (each says why at its top); they are run and
# their differences printed, but they do not fail the test.
# A case with the line "# code page: UTF-8" runs Wine with UTF-8 as the ANSI code page, as the
# POSIX build has it (Wine gives UTF-8 to a locale without an ANSI code page, such as hi_IN);
# other cases run in Wine's usual one, which agrees with the POSIX build on ASCII only.
# Environment: WINE (default "wine"); WINEPREFIX (default: a "wineprefix" folder beside
# WINDOWS_PROBE, created on first use, which takes Wine 10-30 s).
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 LINUX_PROBE WINDOWS_PROBE [CASE...]" >&2
  exit 2
fi
linux_probe=$(realpath "$1")
windows_probe=$(realpath "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)
cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=("$here"/cases/*.txt)
known=("$here"/cases/known/*.txt)
export WINEPREFIX="${WINEPREFIX:-$(dirname "$windows_probe")/wineprefix}"
export WINEDEBUG=-all
wine="${WINE:-wine}"

wineserver="$(dirname "$(command -v "$wine")")/wineserver"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ozz-profile-diff-XXXXXX")
# The prefix is shared with other tests: end this run's wineserver (and whatever it started
# for this session) before they use it, so none of them connects to a server on its way out.
trap '"$wineserver" -k >/dev/null 2>&1; "$wineserver" -w >/dev/null 2>&1; rm -rf "$scratch"' EXIT

# Runs one script in a fresh folder of its own; leaves the output in that folder's "output".
run() {  # run NAME SCRIPT COMMAND...
  local folder="$scratch/$1"
  shift
  local script=$1
  shift
  rm -rf "$folder"
  mkdir -p "$folder/files"
  cp "$script" "$folder/script.txt"
  (cd "$folder/files" && "$@" ../script.txt >../output 2>../errors)
  echo "exit $?" >>"$folder/output"
}

# Runs the Windows probe on a case in the ANSI code page that the case asks for.
run_wine() {  # run_wine CASE
  if grep -qx '# code page: UTF-8' "$1"; then
    run wine "$1" env LC_ALL=hi_IN.UTF-8 "$wine" "$windows_probe"
  else
    run wine "$1" "$wine" "$windows_probe"
  fi
}

# Compares the two runs of a script; prints the differences and returns non-zero if any.
compare() {  # compare CASE
  local same=0
  diff -u --label "posix: $(basename "$1")" --label "wine: $(basename "$1")" \
    "$scratch/linux/output" "$scratch/wine/output" || same=1
  diff -r "$scratch/linux/files" "$scratch/wine/files" >/dev/null || {
    same=1
    echo "files differ:"
    diff -r "$scratch/linux/files" "$scratch/wine/files" | head -20
  }
  return $same
}

failed=0
passed=0
for case in "${cases[@]}"; do
  run linux "$case" "$linux_probe"
  run_wine "$case"
  if compare "$case"; then
    passed=$((passed + 1))
    echo "agree: $(basename "$case")"
  else
    failed=$((failed + 1))
    echo "DIFFER: $(basename "$case")"
  fi
done

if [ $# -eq 0 ]; then
  for case in "${known[@]}"; do
    [ -e "$case" ] || continue
    run linux "$case" "$linux_probe"
    run_wine "$case"
    echo "known difference: $(basename "$case")"
    compare "$case" | sed 's/^/    /'
  done
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
