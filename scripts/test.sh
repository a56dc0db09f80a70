#!/usr/bin/env bash
# The test command: installs what is missing, builds the Windows dependencies (once, cached),
# builds and runs every test on Linux and, cross-built, on Windows under Wine, then once more on
# Linux with the sanitizers (build/sanitize), where each fuzz target also runs for a few seconds.
#   LAUNCHER_BUILD_DIR=build       build root (build/linux, build/windows, build/sanitize)
#   LAUNCHER_PLATFORMS="linux windows sanitize"   the platforms to build and test
# Exits non-zero when any step or any test fails; every platform runs either way.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$LAUNCHER_ROOT"

platforms=${LAUNCHER_PLATFORMS:-linux windows sanitize}
start=$SECONDS
declare -A result=()
passed_total=0
failed_total=0

step() { echo; echo "==== $* ($((SECONDS - start)) s)"; }

step "installing missing packages"
bash scripts/install-deps.sh </dev/null

wine_dir="$LAUNCHER_BUILD_ROOT/windows"
wine_prefix="$wine_dir/wineprefix"
wineboot_pid=
if [[ " $platforms " == *" windows "* ]]; then
  step "building the Windows dependencies"
  bash scripts/build-mingw-deps.sh </dev/null
  # A fresh Wine prefix per run, made beside the builds.
  mkdir -p "$wine_dir"
  launcher_wine_prefix_create "$wine_prefix" "$wine_dir/wineboot.log" &
  wineboot_pid=$!
  trap 'launcher_wine_stop "$wine_prefix"' EXIT
fi

# ctest's own summary line feeds the run's totals.
count_results() { # platform log
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$2" | tail -n1 || true)
  if [[ "$line" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed_total=$((failed_total + BASH_REMATCH[1]))
    passed_total=$((passed_total + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
}

run_platform() { # platform
  local platform=$1 dir="$LAUNCHER_BUILD_ROOT/$1" log="$LAUNCHER_BUILD_ROOT/$1/ctest.log"
  step "$platform: configure"
  launcher_configure "$platform" "$dir" >/dev/null || { echo "$platform: configure failed"; return 1; }
  step "$platform: build"
  # Build all that builds (-k 0) and run its tests; a program that failed to build shows as
  # a failed <name>_NOT_BUILT test, and the platform fails.
  local rc=0
  launcher_build "$dir" -k 0 || { echo "$platform: build failed"; rc=1; }
  local jobs=$LAUNCHER_JOBS
  if [[ "$platform" == windows ]]; then
    launcher_check_imports "$dir" || { echo "windows: a program imports a non-system DLL"; rc=1; }
    if [[ -n "$wineboot_pid" ]]; then
      wait "$wineboot_pid" || { echo "windows: wineboot failed:"; cat "$dir/wineboot.log"; return 1; }
      wineboot_pid=
    fi
    launcher_wine_start "$wine_prefix"
  fi
  step "$platform: tests"
  ctest --test-dir "$dir" -j "$jobs" --timeout 600 --output-on-failure --no-tests=error \
    </dev/null 2>&1 | tee "$log" || rc=1
  count_results "$platform" "$log"
  if [[ "$platform" == windows ]]; then
    launcher_wine_stop "$wine_prefix"
  fi
  return $rc
}

overall=0
for platform in $platforms; do
  if run_platform "$platform"; then result[$platform]=passed; else result[$platform]=FAILED; overall=1; fi
done

echo
echo "==== summary ($((SECONDS - start)) s)"
for platform in $platforms; do echo "$platform: ${result[$platform]}"; done
echo "tests: $passed_total passed, $failed_total failed"
exit $overall
