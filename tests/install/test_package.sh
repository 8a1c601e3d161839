#!/usr/bin/env bash
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
deb=$(ls "$work"/out/*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/QX_77ZT ./usr/share/applications/qx77zt.desktop \
    ./usr/share/icons/hicolor/48x48/apps/qx77zt.png ./usr/share/icons/hicolor/256x256/apps/qx77zt.png \
    ./usr/lib/udev/rules.d/70-qx77zt.rules; do
    grep -qx "$f" <<<"$files" || fail "package lacks $f"
done
if grep -q '^./etc/' <<<"$files"; then
    fail "the package must not ship files under /etc"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for d in libudev1 libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
dpkg-deb -I "$deb" postinst | grep -q "udevadm control --reload-rules" || fail "postinst does not reload udev rules"
echo "package: $(basename "$deb"), Depends: $depends"

# By hand, under another prefix, the rule goes to /etc/udev/rules.d.
DESTDIR="$work/root" cmake --install "$build" --prefix /usr/local >/dev/null
[ -f "$work/root/etc/udev/rules.d/70-qx77zt.rules" ] || fail "a by-hand install lacks /etc/udev/rules.d/70-qx77zt.rules"
[ -x "$work/root/usr/local/bin/QX_77ZT" ] || fail "a by-hand install lacks the program"
echo "1 passed, 0 failed"
