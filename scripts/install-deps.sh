#!/usr/bin/env bash
# Installs what building and testing need, and nothing when it is all there.
# Debian/Ubuntu: apt-get. macOS: Homebrew and the Brewfile.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "$(uname -s)" == "Darwin" ]]; then
  command -v brew >/dev/null || { echo "Homebrew is needed: https://brew.sh" >&2; exit 1; }
  brew bundle check --file=Brewfile >/dev/null 2>&1 || brew bundle install --file=Brewfile
  exit 0
fi

packages=(
  build-essential cmake ninja-build pkg-config zsh
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libplist-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  libc++-dev libc++abi-dev googletest  # the libcxx preset: libc++ and GoogleTest's sources
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
