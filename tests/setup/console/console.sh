# The installer's console in a real terminal: one key read without echo or Enter, keys without a
# character, end of input without a console, and the usage screen waiting for its key.
source "$ZYN_SOURCE/tests/scenarios/scenario.sh"
scenario_begin setup_console
PROBE="WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all $WINE64 '$ZYN_BUILD/bin/setup_probe.exe'"

# Each key is taken at once and none is echoed; an arrow key and F10 give the prefix, then the
# marked scan code (0x148, 0x144), which no question takes for a letter.
tmux_start keys "$PROBE readkey 6"
tmux_wait_for keys 'Press a key:'
tmux_keys keys y
tmux_wait_for keys 'key=121$'
tmux_keys keys N
tmux_wait_for keys 'key=121 key=78$'
tmux_keys keys Up
tmux_wait_for keys 'key=78 key=224 key=328$'
tmux_keys keys F10
tmux_wait_for keys '\[exit 0\]'
expect_eq "Press a key: key=121 key=78 key=224 key=328 key=224 key=324" "$(tmux_screen keys | head -n 1)" \
    "keys read one by one, none echoed"

# Without console input every read ends at once.
expect_eq "Press a key: key=-1 key=-1" "$(timeout 60 "$WINE64" "$ZYN_BUILD/bin/setup_probe.exe" readkey 2 </dev/null | tr -d '\r')" \
    "end of input at once"

# The usage screen is on the terminal while it waits for the key; the key ends it with 2.
tmux_start usage "$PROBE usage"
tmux_wait_for usage 'Press any key to exit \.\.\.'
sleep 1
expected_screen="=====================================================================
BMC Device Driver & VX7 API Library 64bit Installer
Version: 1.19                         Nov/1/2007
Copyright (C) 2007-2026 Zynvarra Systems. All rights reserved.
=====================================================================

     Usage: setup [-q|-n|-h|-u]

     none:  Interactive mode
     -q     Quiet mode
     -n     No screen output at all
     -h     Hardware detect (see installation return code values 8 & 16)
     -u     Uninstall the VX7 library and IPMI driver

     Return Code:
      0     Installed OK, no reboot required.
      1     Installed OK, reboot required.
      2     Install failed.
      8     No hardware found. (Only valid with the -h option.)
      16    IPMI BMC hardware found. No library/driver installation occurred.
            (Only valid with the -h option.)

Press any key to exit ..."
expect_eq "$expected_screen" "$(tmux_screen usage | head -n 23)" "the usage screen as the user sees it"
expect_no_match '\[exit' "$(tmux_screen usage)" "the usage screen waits for a key"
tmux_keys usage x
tmux_wait_for usage '\[exit 2\]'
expect_eq 2 "$(tmux_exit_code usage)" "the usage screen's result"
