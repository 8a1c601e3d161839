#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the optimised preset and starts the program: the real program
# when a QX-77ZT unit is plugged in, otherwise the demo program over a virtual unit.
# QX_PROGRAM=real or QX_PROGRAM=demo chooses explicitly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-debian.sh
cmake --preset default >/dev/null
cmake --build --preset default --target QX_77ZT QX_77ZT_demo

choice=${QX_PROGRAM:-}
if [ -z "$choice" ]; then
    if bash tools/unit-present.sh >/dev/null; then choice=real; else choice=demo; fi
fi
program=build/default/app/QX_77ZT
[ "$choice" = demo ] && program=build/default/app/QX_77ZT_demo
echo "Starting $(basename "$program")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running on a virtual X server (Xvfb); close it with Ctrl+C."
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$program"
fi
exec "$program"
