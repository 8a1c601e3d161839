#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source, build and script file of the project names its licence in its first lines
# (after a "#!" line). Without arguments: lists the files that do not and fails. With --add:
# puts the line at the top of each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: GPL-3.0-or-later"
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "spdx: not a git checkout; nothing to check"
    exit 0
fi

missing=()
while IFS= read -r f; do
    [ -f "$f" ] || continue
    head -n 3 "$f" | grep -q "SPDX-License-Identifier:" || missing+=("$f")
done < <(git ls-files -- '*.cpp' '*.h' '*.c' '*.cmake' '*CMakeLists.txt' '*.sh' '*.bash' '*.py' \
    'app/linux/postinst')

if [ "${1:-}" = "--add" ]; then
    for f in "${missing[@]}"; do
        case "$f" in
        *.cpp | *.h | *.c) line="// $tag" ;;
        *) line="# $tag" ;;
        esac
        if head -n 1 "$f" | grep -q '^#!'; then
            { head -n 1 "$f"; echo "$line"; tail -n +2 "$f"; } >"$f.spdx"
        else
            { echo "$line"; cat "$f"; } >"$f.spdx"
        fi
        chmod --reference="$f" "$f.spdx"
        mv "$f.spdx" "$f"
    done
    echo "spdx: added to ${#missing[@]} files"
    exit 0
fi
if [ ${#missing[@]} -gt 0 ]; then
    printf 'spdx: no licence line in %s\n' "${missing[@]}"
    exit 1
fi
echo "spdx: every file names its licence"
