#!/usr/bin/env bash
# Quick iteration: configure (first time), build and run ctest for one platform.
#   scripts/dev.sh linux   [ctest args...]     e.g. scripts/dev.sh linux -R Sha
#   scripts/dev.sh windows [ctest args...]     under Wine, prefix kept between runs
#   scripts/dev.sh sanitize [ctest args...]    Linux with ASan and UBSan, plus the fuzz targets'
#                                              smoke runs (ctest -L fuzz runs only those)
# Builds in $LAUNCHER_BUILD_DIR/<platform> (default build/); assumes scripts/install-deps.sh
# has run (the Windows dependencies are built here when missing).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

platform=${1:-}
case "$platform" in
  linux|windows|sanitize) shift ;;
  *) echo "usage: $0 linux|windows|sanitize [ctest args...]" >&2; exit 2 ;;
esac
dir="$LAUNCHER_BUILD_ROOT/$platform"

if [[ "$platform" == windows ]]; then
  bash "$LAUNCHER_ROOT/scripts/build-mingw-deps.sh"
fi
if [[ ! -f "$dir/build.ninja" ]]; then
  launcher_configure "$platform" "$dir" >/dev/null
fi
launcher_build "$dir"

if [[ "$platform" == windows ]]; then
  launcher_check_imports "$dir"
  prefix="$dir/wineprefix"
  if [[ ! -f "$prefix/system.reg" ]]; then
    echo "dev: creating the Wine prefix $prefix"
    launcher_wine_prefix_create "$prefix" "$dir/wineboot.log"
  fi
  trap 'launcher_wine_stop "$prefix"' EXIT
  launcher_wine_start "$prefix"
fi

ctest --test-dir "$dir" -j "$LAUNCHER_JOBS" --timeout 600 --output-on-failure "$@" </dev/null
