# The scenario machinery itself: a clean prefix, the plain simulated driver, a terminal.
source "$(dirname "$0")/scenario.sh"
scenario_begin testbed_smoke

expect_match '^absent error=1060$' "$(zyntest service-status imbsim)" "a clean prefix has no simulated driver"
install_plain_driver ResponseDelayMs=10
expect_match '^state=4 ' "$(zyntest service-status imbsim)" "the plain driver runs"
expect_match '^opens=1 closes=0 requests=0' "$(zyntest bmc-counters)" "counters start at zero"
zyntest bmc-set cc=0xC1 count=2
expect_eq "" "$(zyntest bmc-log)" "nothing logged yet"

tmux_start smoke "read -n 1 -s key; echo \"got [\$key]\""
tmux_keys smoke y
tmux_wait_for smoke 'got \[y\]' 10
expect_eq 0 "$(tmux_exit_code smoke)" "the terminal command ends"
