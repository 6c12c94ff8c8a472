# Helpers for the scripts that use the window under a virtual X display as a
# person would; sourced, not run. Need xdotool.

# wait_for_window NAME: prints the id of the visible window whose name holds
# NAME, waiting up to 10 s for it.
wait_for_window() {
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "no window named '$1' appeared" >&2
  return 1
}

# choose_input MAIN INPUT: clicks "Select input bna" in the main window MAIN,
# types the input's full path into the open-file dialog and presses Enter.
choose_input() {
  local main=$1 input=$2 delay=${3:-5} dialog
  # The button sits at the top left of the client area, below the menu bar.
  xdotool mousemove --window "$main" 190 52 click 1
  dialog=$(wait_for_window "Open bna file.")
  sleep 0.5
  xdotool windowactivate --sync "$dialog" 2>/dev/null || xdotool windowfocus --sync "$dialog"
  xdotool type --delay "$delay" "$input"
  xdotool key Return
}
