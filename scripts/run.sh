#!/usr/bin/env bash
# Installs what is missing, builds the launcher for Linux and starts it. Its folder (the game's
# files, launcher.json, launcher.log) is build/linux/Halvorn, beside the program.
#   scripts/run.sh [launcher arguments, e.g. --play]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$LAUNCHER_ROOT/scripts/install-deps.sh"
dir="$LAUNCHER_BUILD_ROOT/linux"
if [[ ! -f "$dir/build.ninja" ]]; then
  launcher_configure linux "$dir" >/dev/null
fi
cmake --build "$dir" -j "$LAUNCHER_JOBS" --target launcher_program
exec "$dir/HalvornLauncher" "$@"
