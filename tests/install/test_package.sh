#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package and a by-hand install put the right files in the right places.
# usage: test_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/qx77zt_*.deb)
# Debug symbols come apart from the programs.
ls "$work"/out/qx77zt-dbgsym_*.*deb >/dev/null 2>&1 || fail "no qx77zt-dbgsym package next to $(basename "$deb")"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/QX_77ZT ./usr/bin/qx77zt ./usr/share/applications/qx77zt.desktop \
    ./usr/share/man/man1/qx77zt.1.gz ./usr/share/man/man1/QX_77ZT.1.gz \
    ./usr/share/bash-completion/completions/qx77zt \
    ./usr/share/doc/qx77zt/copyright ./usr/share/doc/qx77zt/changelog.gz \
    ./usr/share/icons/hicolor/48x48/apps/qx77zt.png ./usr/share/icons/hicolor/256x256/apps/qx77zt.png \
    ./usr/lib/udev/rules.d/70-qx77zt.rules ./usr/lib/systemd/user/qx77zt-monitor.service; do
    grep -qx "$f" <<<"$files" || fail "package lacks $f"
done
if grep -q '^./etc/' <<<"$files"; then
    fail "the package must not ship files under /etc"
fi
# The copyright file is machine-readable and names the project's licence for every file.
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/qx77zt/copyright >"$work/copyright"
head -1 "$work/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
licences=$(sed -n 's/^License: *//p' "$work/copyright" | sort -u)
[ "$licences" = "GPL-3.0-or-later" ] || fail "copyright names licences other than GPL-3.0-or-later: $licences"
grep -q '^ On Debian systems, the complete text of the GNU General Public$' "$work/copyright" ||
    fail "copyright does not point at the licence's text"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libudev1 fonts-wine libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
dpkg-deb -I "$deb" postinst | grep -q "udevadm control --reload-rules" || fail "postinst does not reload udev rules"
# The monitor's user unit starts the installed program, and stays off until the user enables it.
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/lib/systemd/user/qx77zt-monitor.service |
    grep -qx 'ExecStart=/usr/bin/qx77zt monitor' || fail "the monitor's unit does not start /usr/bin/qx77zt"
if dpkg-deb -I "$deb" postinst | grep -q systemctl; then
    fail "postinst enables or starts the monitor"
fi
# The programs are stripped: no debug sections, and the HID library they carry has none either.
dpkg-deb -x "$deb" "$work/unpacked"
for p in QX_77ZT qx77zt; do
    if readelf -S "$work/unpacked/usr/bin/$p" | grep -q '\.debug_'; then
        fail "/usr/bin/$p is not stripped"
    fi
done
size=$(stat -c %s "$work/unpacked/usr/bin/QX_77ZT")
[ "$size" -lt 4000000 ] || fail "/usr/bin/QX_77ZT is $size bytes"
# The manual page and the completion script are sound as they are installed.
if command -v man >/dev/null 2>&1; then
    for page in qx77zt QX_77ZT; do
        warnings=$(MANWIDTH=80 man --warnings -l "$work/unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man reports problems in $page.1: $warnings"
    done
fi
bash -n "$work/unpacked/usr/share/bash-completion/completions/qx77zt" || fail "the completion script does not parse"
# Debian's own checks, when lintian is installed (tools/setup-extra.d/package.list brings it).
if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error,warning "$deb" || fail "lintian"
else
    echo "package: lintian is not installed; its checks were skipped"
fi
echo "package: $(basename "$deb") ($size bytes of QX_77ZT), Depends: $depends"

# By hand, under another prefix, the rule goes to /etc/udev/rules.d.
DESTDIR="$work/root" cmake --install "$build" --prefix /usr/local >/dev/null
[ -f "$work/root/etc/udev/rules.d/70-qx77zt.rules" ] || fail "a by-hand install lacks /etc/udev/rules.d/70-qx77zt.rules"
[ -x "$work/root/usr/local/bin/QX_77ZT" ] || fail "a by-hand install lacks the program"
[ -x "$work/root/usr/local/bin/qx77zt" ] || fail "a by-hand install lacks the command line"
grep -qx 'ExecStart=/usr/local/bin/qx77zt monitor' "$work/root/usr/local/lib/systemd/user/qx77zt-monitor.service" ||
    fail "a by-hand install lacks the monitor's unit starting /usr/local/bin/qx77zt"
echo "1 passed, 0 failed"
