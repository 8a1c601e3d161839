#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what a fresh Debian 12 machine lacks to build, test and run the project.
# Idempotent: when every package is already there it only checks and returns.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config git dpkg-dev file ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libudev-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    xvfb xauth fonts-dejavu-core fonts-wine
)
# Extra lanes append their own needs here (see tools/setup-extra.d/).
if [ -d "$(dirname "$0")/setup-extra.d" ]; then
    for f in "$(dirname "$0")"/setup-extra.d/*.list; do
        [ -f "$f" ] || continue
        while read -r p; do
            [ -n "$p" ] && [ "${p#\#}" = "$p" ] && packages+=("$p")
        done <"$f"
    done
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
