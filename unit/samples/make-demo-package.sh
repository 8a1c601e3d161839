#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make-demo-package.sh MKORBU OUT.orbu: writes the virtual unit's sample update package from two
# small deterministic images, so that the same bytes come out on every machine.
# The model name ends in a space: in boot mode the unit reports "QX-77ZT (boot)", and the program
# compares package names against that text with "(boot)" taken out, the space kept.
#   flash:  4096 bytes, a banner line and then a counting pattern
#   EEPROM: 320 bytes, a banner line and then 0xFF like erased cells
set -euo pipefail
mkorbu=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

perl -e '
    my $banner = "QX-77ZT demo firmware\n";
    my @b = unpack("C*", $banner);
    push @b, ($_ * 37 + 11) & 0xFF for scalar(@b) .. 4095;
    print pack("C*", @b);
' >"$work/flash.bin"
perl -e '
    my $banner = "QX-77ZT demo settings\n";
    print $banner, "\xFF" x (320 - length $banner);
' >"$work/eeprom.bin"

"$mkorbu" --name "QX-77ZT " --version 1.0 --flash "$work/flash.bin" --eeprom "$work/eeprom.bin" \
    -o "$out"
