#!/usr/bin/env bash
# Builds the Windows (mingw-w64) dependencies into a cache outside the repository:
#   liblzma from Debian's xz-utils source package, libzip from Debian's libzip source package
#   (with zlib from libz-mingw-w64-dev), GoogleTest and GoogleMock from /usr/src/googletest,
#   Dear ImGui (the core with its Win32 and DX11 backends) from Debian's imgui source package,
#   and the nlohmann/json headers copied from the system.
# A stamp makes a second run instant; LAUNCHER_MINGW_CACHE moves the cache.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Bump when the recipe below changes, so every cache is rebuilt.
RECIPE=2
SOURCE_PACKAGES=(xz-utils libzip imgui)

cache=$LAUNCHER_MINGW_CACHE
prefix=$LAUNCHER_MINGW_PREFIX
stamp="$prefix/.launcher-deps-stamp"
want="recipe=$RECIPE gtest=$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || echo none)"

up_to_date() { [[ -f "$stamp" && "$(cat "$stamp")" == "$want" ]]; }
if up_to_date; then
  echo "mingw deps: up to date in $prefix"
  exit 0
fi

# One build at a time per cache: a second caller waits, then finds the stamp.
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if up_to_date; then
  echo "mingw deps: up to date in $prefix"
  exit 0
fi

echo "mingw deps: building into $prefix"
start=$SECONDS
mkdir -p "$cache"/{apt/lists/partial,apt/cache/archives/partial,downloads,src,build,logs}

# --- fetch the source packages with apt-get and a private source list -------------------
fetch_sources() {
  local list="$cache/apt/sources.list"
  echo 'deb-src http://deb.debian.org/debian bookworm main' >"$list"
  local apt=(apt-get -q -o Dir::Etc::SourceList="$list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache"
             -o APT::Sandbox::User="$(id -un)")
  local need=()
  local p
  for p in "${SOURCE_PACKAGES[@]}"; do
    compgen -G "$cache/downloads/${p}_*.dsc" >/dev/null || need+=("$p")
  done
  ((${#need[@]})) || return 0
  "${apt[@]}" update >"$cache/logs/apt-update.log" 2>&1 || { cat "$cache/logs/apt-update.log"; return 1; }
  (cd "$cache/downloads" && "${apt[@]}" source --download-only "${need[@]}") \
    >"$cache/logs/apt-source.log" 2>&1 || { cat "$cache/logs/apt-source.log"; return 1; }
}

unpack() { # package -> prints the unpacked directory
  local p=$1 dsc dir
  dsc=$(printf '%s\n' "$cache/downloads/${p}"_*.dsc | sort -V | tail -n1)
  dir="$cache/src/$(basename "$dsc" .dsc)"
  if [[ ! -d "$dir" ]]; then
    rm -rf "$dir.tmp"
    dpkg-source --no-check -x "$dsc" "$dir.tmp" >"$cache/logs/unpack-$p.log" 2>&1 \
      || { cat "$cache/logs/unpack-$p.log" >&2; return 1; }
    mv "$dir.tmp" "$dir"
  fi
  echo "$dir"
}

fetch_sources
xz_src=$(unpack xz-utils)
zip_src=$(unpack libzip)
imgui_src=$(unpack imgui)
ln -sfn "$imgui_src" "$cache/src/imgui"

# Dear ImGui has no build of its own: a static library of the core and the two backends the
# launcher uses, installed with the same header layout as Debian's libimgui-dev
# (include/imgui/imgui.h, include/imgui/backends/imgui_impl_win32.h).
imgui_cmake="$cache/build/imgui-project"
write_imgui_project() {
  mkdir -p "$imgui_cmake"
  cat >"$imgui_cmake/CMakeLists.txt" <<EOF_IMGUI
cmake_minimum_required(VERSION 3.16)
project(imgui CXX)
set(S "$imgui_src")
add_library(imgui STATIC \${S}/imgui.cpp \${S}/imgui_draw.cpp \${S}/imgui_tables.cpp
  \${S}/imgui_widgets.cpp \${S}/backends/imgui_impl_win32.cpp \${S}/backends/imgui_impl_dx11.cpp)
target_include_directories(imgui PUBLIC \${S})
install(TARGETS imgui ARCHIVE DESTINATION lib)
install(FILES \${S}/imgui.h \${S}/imconfig.h \${S}/imgui_internal.h \${S}/imstb_rectpack.h
  \${S}/imstb_textedit.h \${S}/imstb_truetype.h DESTINATION include/imgui)
install(FILES \${S}/backends/imgui_impl_win32.h \${S}/backends/imgui_impl_dx11.h
  DESTINATION include/imgui/backends)
EOF_IMGUI
}

rm -rf "$prefix" "$cache/build"
mkdir -p "$prefix" "$cache/build"
write_imgui_project

toolchain="$LAUNCHER_ROOT/cmake/mingw-w64.cmake"
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain"
        -DLAUNCHER_MINGW_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix"
        -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)

build_one() { # name source-dir [cmake args...]
  local name=$1 src=$2; shift 2
  local b="$cache/build/$name" log="$cache/logs/build-$name.log"
  { cmake -S "$src" -B "$b" "${common[@]}" "$@" &&
    cmake --build "$b" -j "$LAUNCHER_JOBS" &&
    cmake --install "$b"; } >"$log" 2>&1 || { echo "mingw deps: $name failed:" >&2; tail -n 40 "$log" >&2; return 1; }
  echo "mingw deps: $name done"
}

pids=()
build_one liblzma "$xz_src" -DBUILD_TESTING=OFF & pids+=($!)
build_one libzip "$zip_src" -DZLIB_USE_STATIC_LIBS=ON \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
  -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF & pids+=($!)
build_one googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON & pids+=($!)
build_one imgui "$imgui_cmake" & pids+=($!)
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
((failed == 0)) || exit 1

# nlohmann/json is header-only: the system's headers and CMake package, moved into the prefix
# so that the cross-build finds them without looking into the host's /usr/include.
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

echo "$want" >"$stamp"
echo "mingw deps: ready in $((SECONDS - start)) s"
