# shellcheck shell=bash
# Shared settings of the build scripts; sourced, not run.
# LAUNCHER_BUILD_DIR   build root (default: build, relative to the repository)
# LAUNCHER_MINGW_CACHE where the Windows dependencies are built
#                      (default: ${XDG_CACHE_HOME:-$HOME/.cache}/kelvane-launcher/mingw)
# LAUNCHER_JOBS        parallel jobs (default: 8)

LAUNCHER_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LAUNCHER_BUILD_ROOT=${LAUNCHER_BUILD_DIR:-build}
[[ "$LAUNCHER_BUILD_ROOT" = /* ]] || LAUNCHER_BUILD_ROOT="$LAUNCHER_ROOT/$LAUNCHER_BUILD_ROOT"
LAUNCHER_MINGW_CACHE=${LAUNCHER_MINGW_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/kelvane-launcher/mingw}
LAUNCHER_MINGW_PREFIX="$LAUNCHER_MINGW_CACHE/prefix"
LAUNCHER_JOBS=${LAUNCHER_JOBS:-8}
export LAUNCHER_MINGW_PREFIX

# Wine: quiet, no Mono/Gecko installers on a new prefix, no display needed by console tests.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Sanitized programs (build/sanitize) print the whole stack of an undefined-behaviour report.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

launcher_configure() { # platform build-dir [extra cmake args...]
  local platform=$1 dir=$2; shift 2
  # Test builds: the program also accepts the program checks' test disc.
  local args=(-S "$LAUNCHER_ROOT" -B "$dir" -G Ninja -DLAUNCHER_WERROR=ON -DLAUNCHER_TEST_DISC=ON)
  if [[ "$platform" == sanitize ]]; then
    # Linux with AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets; clang
    # is needed for libFuzzer. -O1 keeps the reports' stacks readable at a fair speed.
    args+=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
           -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
           -DLAUNCHER_SANITIZE=ON -DLAUNCHER_FUZZ=ON -DLAUNCHER_BUILD_BENCHMARKS=OFF)
  elif [[ "$platform" == windows ]]; then
    # -O2 as on Linux: GCC 12's -O3 adds false -Wstringop-overflow/-Warray-bounds warnings.
    args+=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG"
           -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
           -DCMAKE_TOOLCHAIN_FILE="$LAUNCHER_ROOT/cmake/mingw-w64.cmake"
           -DLAUNCHER_MINGW_PREFIX="$LAUNCHER_MINGW_PREFIX")
  else
    args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  fi
  cmake "${args[@]}" "$@"
}

# The Linux build of one target for a benchmark script: configures the build folder the first
# time, then builds only that target.
launcher_build_target() { # build-dir target
  [[ -f "$1/build.ninja" ]] || launcher_configure linux "$1" >/dev/null
  cmake --build "$1" --target "$2" -j "$LAUNCHER_JOBS"
}

launcher_build() { # build-dir [extra ninja args...]
  local dir=$1; shift
  cmake --build "$dir" -j "$LAUNCHER_JOBS" -- "$@"
}

# Wine's first call starts background processes (wineserver, services, explorer) that
# inherit the caller's pipes; under ctest that makes gtest discovery wait until it times
# out. So the server is started for good, and warmed, with its output detached, before
# anything reads Wine's output through a pipe; launcher_wine_stop ends it.
launcher_wine_prefix_create() { # prefix log
  rm -rf "$1"
  mkdir -p "$1"
  WINEPREFIX="$1" wineserver -p </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineboot -i </dev/null >"$2" 2>&1
}

launcher_wine_start() { # prefix
  export WINEPREFIX="$1"
  wineserver -p </dev/null >/dev/null 2>&1 || true   # exits 2 when already running
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

launcher_wine_stop() { # prefix
  WINEPREFIX="$1" wineserver -k </dev/null >/dev/null 2>&1 || true
}

# Windows programs must import system DLLs only: a zlib1.dll or libstdc++-6.dll import
# passes under Wine (which ships such DLLs or finds them) and fails on a player's machine.
LAUNCHER_SYSTEM_DLLS='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|comctl32|winhttp|bcrypt|crypt32|ws2_32|mswsock|iphlpapi|msvcrt|ucrtbase|ntdll|version|userenv|rpcrt4|secur32|winmm|imm32|dwmapi|uxtheme|setupapi|psapi|dbghelp|d3d11|dxgi|d3dcompiler_47|api-ms-win-.*)\.dll$'

launcher_check_imports() { # build-dir
  local bad=0 exe dll
  while IFS= read -r -d '' exe; do
    while read -r dll; do
      if ! [[ "${dll,,}" =~ $LAUNCHER_SYSTEM_DLLS ]]; then
        echo "imports: ${exe#"$1"/} needs $dll, which is not a Windows system DLL" >&2
        bad=1
      fi
    done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  done < <(find "$1" -name 'wineprefix*' -prune -o -name '*.exe' -type f -print0)
  return $bad
}

# A benchmark payload of real files, copied once: the named folders (those that exist) into
# DEST, symbolic links dropped so that every unpacker writes the same bytes, then DEST.stamp.
launcher_bench_payload() { # dest source-folder...
  local dest=$1 dir; shift
  [[ -f "$dest.stamp" ]] && return 0
  echo "bench: copying the payload into $dest"
  rm -rf "$dest"
  mkdir -p "$dest"
  for dir in "$@"; do
    [[ -d "$dir" ]] && cp -a "$dir" "$dest/"
  done
  find "$dest" -type l -delete
  touch "$dest.stamp"
}
