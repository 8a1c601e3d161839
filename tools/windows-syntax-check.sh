#!/usr/bin/env bash
# Compiles every source of the window program (and what moc makes of its classes) for Windows
# with mingw-w64 against this machine's Qt 6 headers, checking syntax only: Qt for Windows is
# not here to link against. What it catches is a Linux call or header outside a linux/ folder.
# The virtual unit (unit/, the demo program's library) is Linux-only and not checked.
#
#   tools/windows-syntax-check.sh [JOBS]
# Exit 0 when every file compiles, 1 with the failures shown, 0 with a note when the compiler,
# the Qt headers or moc are missing.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

cxx=x86_64-w64-mingw32-g++-posix
qt=/usr/include/x86_64-linux-gnu/qt6
moc=/usr/lib/qt6/libexec/moc
for need in "$cxx" "$qt/QtWidgets" "$moc"; do
    if ! command -v "$need" >/dev/null 2>&1 && [ ! -e "$need" ]; then
        echo "windows syntax check skipped: $need is not installed"
        exit 0
    fi
done

folders=(app diag panel update levels controls state cli link)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sources: everything in those folders but their linux/ parts.
mapfile -t sources < <(for d in "${folders[@]}"; do
    find "$d" -name '*.cpp' -not -path '*/linux/*'
done | sort)

# moc's output: of each header that declares a QObject, and of each source that includes its
# own ".moc".
mapfile -t headers < <(for d in "${folders[@]}"; do
    find "$d" -name '*.h' -not -path '*/linux/*'
done | xargs grep -l 'Q_OBJECT' | sort)
for h in "${headers[@]}"; do
    out="$work/moc_$(echo "$h" | tr / _).cpp"
    "$moc" -f"$h" -o "$out" "$h" || exit 1
    sources+=("$out")
done
for s in "${sources[@]}"; do
    if grep -q '^#include ".*\.moc"' "$s" 2>/dev/null; then
        "$moc" -i -o "$work/$(basename "${s%.cpp}").moc" "$s" || exit 1
    fi
done

flags=(-std=c++20 -fsyntax-only -Wno-attributes -DUNICODE -D_UNICODE -I. -I"$work" -I"$qt")
for m in QtCore QtGui QtWidgets QtNetwork; do
    flags+=(-I"$qt/$m")
done
export cxx work
check() {
    local log
    log="$work/$(echo "$1" | tr / _).log"
    if ! "$cxx" "${@:2}" "$1" >"$log" 2>&1; then
        echo "FAILED: $1"
        grep -m5 'error' "$log" | sed 's/^/    /'
        return 1
    fi
}
export -f check
printf '%s\n' "${sources[@]}" |
    xargs -P "${1:-$(nproc)}" -I{} bash -c 'check "$@"' _ {} "${flags[@]}"
status=$?
echo "windows syntax check: ${#sources[@]} files (${#headers[@]} of them moc'd headers)"
[ $status -eq 0 ] || echo "windows syntax check FAILED"
exit $([ $status -eq 0 ] && echo 0 || echo 1)
