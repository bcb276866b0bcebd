#!/usr/bin/env bash
# Runs a 32-bit test program under Wine's 32-bit loader: natively, or through the i386 emulator that
# scripts/testbed registers where the kernel refuses 32-bit programs. Exit 77 (skipped) only when
# they cannot run either way (no root, no binfmt_misc), with the reason; a missing 32-bit loader or
# emulator is a broken install, and fails.
set -euo pipefail
. "$(dirname "$0")/../../scripts/i386-programs"

case $(i386_way) in
native | qemu)
    i386_says
    exec /usr/bin/wine "$@"
    ;;
refused)
    reason=$(i386_unregistrable)
    [ -z "$reason" ] || { echo "skipped: 32-bit programs cannot run: this kernel refuses them, and $reason"; exit 77; }
    [ -x "$ZYN_QEMU_I386" ] || { echo "32-bit programs cannot run: no $ZYN_QEMU_I386 (scripts/prerequisites installs it)"; exit 1; }
    echo "32-bit programs cannot run: no i386 interpreter is registered (scripts/testbed template registers it)"
    exit 1
    ;;
*)
    i386_says
    exit 1
    ;;
esac
