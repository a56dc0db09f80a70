#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing.
# Quick when everything is there: one dpkg-query, no apt-get call.
set -euo pipefail

packages=(
  # Linux build
  build-essential cmake ninja-build pkg-config git
  nlohmann-json3-dev libzip-dev zlib1g-dev
  # libzip-dev's CMake package names these programs and fails when they are absent
  zipcmp zipmerge ziptool
  liblzma-dev libcurl4-openssl-dev
  libimgui-dev libglfw3-dev libgl-dev libx11-dev
  # the launcher's pickers on Linux, and running it under a virtual X server in the tests
  zenity xvfb xauth xdotool imagemagick x11-utils libgl1-mesa-dri
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # Windows cross-build and Wine
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-tools libz-mingw-w64-dev wine wine64 fonts-wine
  # fetching and unpacking Debian source packages for the Windows dependencies
  dpkg-dev xz-utils ca-certificates
  # tools the tests drive
  msitools wixl gcab zip unzip ffmpeg python3
  # certificates of the program checks' own authority, for their local stand-in of the
  # hosting service
  openssl
  # a name server that never answers, in network and mount namespaces of the tests' own
  iproute2 util-linux
  # real tar writers beside GNU tar, for the archive tests (bsdtar; pixz, a parallel xz)
  libarchive-tools pixz
  # the sanitizer build and the fuzz targets (the runtimes are only recommended by clang;
  # llvm gives llvm-symbolizer, which puts names and lines in the sanitizers' reports)
  clang libclang-rt-14-dev llvm
)

declare -A installed=()
while read -r name status; do
  [[ "$status" == installed ]] && installed[${name%%:*}]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  [[ -n "${installed[$p]:-}" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
apt_opts=(-o DPkg::Lock::Timeout=600 -o APT::Get::Assume-Yes=true)
"${sudo[@]}" apt-get "${apt_opts[@]}" update -q
"${sudo[@]}" apt-get "${apt_opts[@]}" install -q --no-install-recommends "${missing[@]}" </dev/null
