#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Compiles the window program for Windows: the Windows build of the whole program
# (-DQX_WINDOW_PROGRAM=ON, as with Qt's own tools) configured with mingw-w64, with this
# machine's Qt 6 headers, moc and rcc standing in for Qt for Windows
# (tools/windows-qt/toolchain.cmake). Every library of the window program and the program's own
# objects are compiled, with warnings as errors; nothing is linked, since Qt's libraries here are
# Linux ones. A Linux call or header that slips outside a linux/ folder fails it.
#
#   tools/windows-qt-check.sh [JOBS]      (build folder: build/windows-qt)
# Exit 0 when all of it compiles, 1 otherwise, 0 with a note when mingw-w64 or Qt is missing.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

qt=/usr/lib/x86_64-linux-gnu/cmake/Qt6
for need in x86_64-w64-mingw32-g++-posix "$qt/Qt6Config.cmake"; do
    if ! command -v "$need" >/dev/null 2>&1 && [ ! -e "$need" ]; then
        echo "window program's Windows compile skipped: $need is not installed"
        exit 0
    fi
done

build=build/windows-qt
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/windows-qt/toolchain.cmake" \
    -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix \
    -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQX_BUILD_BENCH=OFF -DQX_WINDOW_PROGRAM=ON -DQX_WERROR=ON -DQt6_DIR="$qt" -DQT_HOST_PATH=/usr \
    "${launcher[@]}" >"$build.configure.log" 2>&1 || {
    cat "$build.configure.log"
    echo "window program's Windows compile FAILED (configure)"
    exit 1
}
# The libraries, then the program's own objects (its link step is the one thing left out).
targets=(qx_program qx_app_support qx_single_instance qx_panel qx_update_window qx_diag_window
    qx_cli_service qx_level_widgets qx_controls qx_embedded_qt_image qx_virtual_unit
    qx_background qx_background_core qx_watch qx_watch_keeper qx_watch_widgets qx_eventlog_window)
objects=(app/CMakeFiles/QX_77ZT.dir/main.cpp.obj
    app/CMakeFiles/QX_77ZT.dir/QX_77ZT_hid/qrc_hid.cpp.obj
    app/CMakeFiles/QX_77ZT.dir/QX_77ZT_autogen/mocs_compilation.cpp.obj)
if cmake --build "$build" -j "${1:-$(nproc)}" --target "${targets[@]}" &&
    ninja -C "$build" -j "${1:-$(nproc)}" "${objects[@]}"; then
    echo "window program's Windows compile: ${#targets[@]} libraries and the program's objects"
    exit 0
fi
echo "window program's Windows compile FAILED"
exit 1
