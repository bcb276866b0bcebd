#!/usr/bin/env bash
# Runs a 32-bit test program under Wine's 32-bit loader; exit 77 (skipped) when this kernel
# cannot run 32-bit programs at all, so the run says so instead of failing or passing on nothing.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "skipped: this kernel cannot run the 32-bit Wine loader (no IA-32 emulation)"
    exit 77
fi
exec /usr/bin/wine "$@"
