#!/usr/bin/env bash
# The Windows panel as a whole program, under wine, against the Linux
# stand-in manager on the fixed port 8899: its window shows the manager's
# state, a power click reaches the manager, a second start raises the first
# and ends, a system error gives its box and then the CLEAR, closing sends
# the DISCONNECT, and without a manager a box says so. Then the installer:
# a silent install, the installed program, a silent uninstall. Screenshots
# of the window and of a box go to <build-win>/screenshot*.png.
#
#   tests/e2e/windows_panel.sh <build-win directory> [<Linux qel-manager>]
#
# The manager is the second argument or else QEL_MANAGER. The Windows
# build's CTest runs it (e2e.WindowsPanel); scripts/windows runs CTest in a
# network namespace of its own (the port is then free), on a virtual X
# display, with its wineserver started inside.
# Every wait ends as soon as what it waits for has happened (a window
# appears, a log line is written, the manager's status changes); the bounds
# only keep a broken run from hanging. Every wine call has a time limit
# (scripts/wine-run).
set -uo pipefail
build=$(cd "$1" && pwd)
manager=${2:-${QEL_MANAGER:-}}
if [[ ! -x $manager ]]; then
  echo "FAILED: no Linux qel-manager (the second argument or QEL_MANAGER): '$manager'"
  exit 1
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run
work=$build/e2e
rm -rf "$work"
mkdir -p "$work"
prefix=${WINEPREFIX:-${QEL_WINEPREFIX:-${QEL_WIN_CACHE:-$HOME/.cache/qelvane-win}/wine}}
version=$(sed -n 's/^project(qelvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

passed=0
failed=0
ok() {
  echo "ok: $1"
  passed=$((passed + 1))
}
bad() {
  echo "FAILED: $1"
  failed=$((failed + 1))
}
# check <what> <command...>
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}

# wait_for <seconds> <command...>: true as soon as the command succeeds.
wait_for() {
  local bound=$(($1 * 20))
  shift
  local i
  for ((i = 0; i < bound; ++i)); do
    "$@" && return 0
    sleep 0.05
  done
  "$@"
}

# ---- the manager ------------------------------------------------------------
manager_pid=""
start_manager() {
  "$manager" --state "$work/state.json" --control "$work/ctl.sock" -v 2>>"$work/manager.log" &
  manager_pid=$!
  wait_for 10 ctl status >/dev/null 2>&1
}
stop_manager() {
  if [[ -n $manager_pid ]]; then
    ctl quit >/dev/null 2>&1
    wait "$manager_pid" 2>/dev/null
    manager_pid=""
  fi
}
ctl() { "$manager" ctl "$@" --control "$work/ctl.sock"; }
status() { ctl status 2>/dev/null | jq -r "$1"; }
clients_are() { [[ $(status '.clients | length') == "$1" ]]; }
system_error_is() { [[ $(status '.state.system_error') == "$1" ]]; }
wants_to_run() { [[ $(status '.configuration.want_to_run') == "$1" ]]; }
manager_logged() { grep -q -- "$1" "$work/manager.log"; }

# ---- the panel --------------------------------------------------------------
panel_pid=""
panel_log=""
# start_panel <name> <program> [NAME=value...]: under wine, with the
# variables given, standard error into <name>.log.
start_panel() {
  panel_log=$work/$1.log
  local program=$2
  shift 2
  env "$@" "$wine_run" "$program" 2>"$panel_log" </dev/null &
  panel_pid=$!
}
# The panel's log, without the line ends' carriage returns.
panel_logged() { tr -d '\r' <"$panel_log" | grep -q -F -- "$1"; }
# panel_exit <seconds>: true when the panel ended in time; its exit status
# is then in $panel_code (it is ended otherwise).
panel_code=""
panel_exit() {
  local i
  for ((i = 0; i < $1 * 20; ++i)); do
    if ! kill -0 "$panel_pid" 2>/dev/null; then
      wait "$panel_pid"
      panel_code=$?
      return 0
    fi
    sleep 0.05
  done
  kill "$panel_pid" 2>/dev/null
  wait "$panel_pid" 2>/dev/null
  panel_code=""
  return 1
}
# A window of the display by its exact title.
window() { xdotool search --name "^$1\$" 2>/dev/null | head -1; }
window_shown() { [[ -n $(window "$1") ]]; }
window_gone() { [[ -z $(window "$1") ]]; }
window_count() { xdotool search --name "^$1\$" 2>/dev/null | wc -l; }
# Closes the panel as Windows asks a program to: WM_CLOSE to its windows.
close_panel() { "$wine_run" taskkill /IM qel-panel.exe >/dev/null 2>&1; }
# Presses the OK button of a box (bottom right; wine draws no frame on a
# display without a window manager) until the box is gone: a box that has
# just appeared may not take a click yet.
press_ok() {
  local box attempt
  for ((attempt = 0; attempt < 10; ++attempt)); do
    box=$(window "$1")
    [[ -n $box ]] || return 0
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool mousemove --window "$box" $((WIDTH - 45)) $((HEIGHT - 16)) click 1
    wait_for 1 window_gone "$1" && return 0
  done
  return 1
}
# screenshot <title> <file>: the window as it is drawn (a window that is
# still being drawn cannot be read yet: tried again).
screenshot() { wait_for 10 import -window "$(window "$1")" "$2" 2>/dev/null; }
# The window icon wine hands to X (32 pixels) is the picture <png>, pixel
# for pixel: the icon resource made from the pictures was set.
window_icon_is() {
  xprop -id "$(window "$1")" -f _NET_WM_ICON 32c _NET_WM_ICON >"$work/icon.txt" 2>/dev/null &&
    convert "$2" rgba:"$work/icon.rgba" &&
    python3 - "$work/icon.txt" "$work/icon.rgba" <<'EOF'
import re, sys
text = open(sys.argv[1]).read()
if "=" not in text:  # no icon yet ("not found")
    sys.exit(1)
numbers = [int(n) for n in re.findall(r"\d+", text.split("=", 1)[1])]
if len(numbers) < 2:
    sys.exit(1)
width, height, argb = numbers[0], numbers[1], numbers[2:]
rgba = open(sys.argv[2], "rb").read()
if width * height * 4 != len(rgba):
    sys.exit(1)
for i in range(width * height):
    r, g, b, a = rgba[4 * i:4 * i + 4]
    v = argb[i]
    if (v >> 24) & 255 != a or (a and ((v >> 16) & 255, (v >> 8) & 255, v & 255) != (r, g, b)):
        sys.exit(1)
EOF
}

program=$build/bin/qel-panel.exe

# ---- the window shows the manager's state --------------------------------------
start_manager || bad "the manager started"
start_panel panel "$program"
if wait_for 60 window_shown Qelvane; then
  ok "the window \"Qelvane\" appears"
  check "the manager has the panel as its one client" wait_for 10 clients_are 1
  check "the panel took the manager's options and state" \
    panel_logged "Debug   Device Name: Qelvane"
  check "it works in the directory of its executable" panel_logged "working directory Z:"
  check "no box is open" window_gone Error
  check "the window carries the icon resource qel_icon" \
    wait_for 5 window_icon_is Qelvane "$root/res/qel_icon-32.png"
  wait_for 5 panel_logged "QelPanel::setOptionsState"
  screenshot Qelvane "$build/screenshot.png" && ok "screenshot of the window: screenshot.png"

  # ---- a power click reaches the manager ---------------------------------------
  geometry=$(xdotool getwindowgeometry --shell "$(window Qelvane)")
  eval "$geometry"
  xdotool mousemove --window "$(window Qelvane)" 180 172 click 1
  check "a power click reaches the manager (want_to_run)" wait_for 10 wants_to_run true
  check "the panel sent the new configuration" panel_logged "Sending SET CONFIG request"

  # ---- a second start raises the first and ends ------------------------------
  "$wine_run" "$program" >"$work/second.log" 2>&1 </dev/null
  second=$?
  check "a second start ends with status 0 (it raised the first window)" [ "$second" -eq 0 ]
  check "the second start said nothing" [ ! -s "$work/second.log" ]
  check "there is still exactly one window" [ "$(window_count Qelvane)" -eq 1 ]
  check "the first panel still runs" kill -0 "$panel_pid"

  # ---- a system error gives its box, then the CLEAR ------------------------------
  ctl error 0x0201 >/dev/null
  if wait_for 20 window_shown "QEL Error"; then
    ok "a system error shows the box \"QEL Error\""
    check "the box says what the error is" \
      panel_logged 'Info Message box "QEL Error": Can'"'"'t find audio driver (513)'
    check "the error is not cleared while the box is open" system_error_is 0x0201
    screenshot "QEL Error" "$build/screenshot-box.png" && ok "screenshot of the box: screenshot-box.png"
    press_ok "QEL Error"
    check "the box closes" wait_for 10 window_gone "QEL Error"
    check "closing the box sends the CLEAR" wait_for 10 system_error_is 0x0000
  else
    bad "a system error shows the box \"QEL Error\""
  fi

  # ---- closing sends the DISCONNECT ----------------------------------------------
  close_panel
  panel_exit 20
  check "closing the window ends the panel with status 0" [ "$panel_code" = 0 ]
  check "the manager heard the DISCONNECT" wait_for 10 clients_are 0
  check "the manager logged it" wait_for 5 manager_logged disconnected
else
  bad "the window \"Qelvane\" appears"
  tail -20 "$panel_log"
  panel_exit 1
fi
stop_manager

# ---- without a manager ----------------------------------------------------------
# Windows reports the closed port to the panel's first receive: "not
# available". Wine reports it only after a second datagram, which the panel
# never sends before its 5.5 s wait ends: "timed out". Either box is right.
# The user reads German here: the box is translated, the log stays English.
start_panel no-manager "$program" LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8
if wait_for 30 window_shown Fehler; then
  ok "without a manager a box appears, in the user's language (\"Fehler\")"
  if panel_logged "Error QelGui::OnInit: The QEL Manager service is not available, please try again in a few minutes"; then
    ok "without a manager the box says the service is not available"
  elif panel_logged "Error QelGui::OnInit: Error waiting for connection response from manager: operation timed out"; then
    ok "without a manager the box says the wait timed out (wine: the closed port is not reported)"
  else
    bad "without a manager the box says why"
    tail -5 "$panel_log"
  fi
  check "there is no main window" window_gone Qelvane
  screenshot Fehler "$build/screenshot-no-manager.png"
  press_ok Fehler
  panel_exit 20
  ended_with_failure() { [ -n "$panel_code" ] && [ "$panel_code" != 0 ]; }
  check "the panel ends with a non-zero status when the box is closed" ended_with_failure
else
  bad "without a manager a box appears"
  panel_exit 1
fi

# ---- qelctl.exe -------------------------------------------------------------------
qelctl=$build/bin/qelctl.exe
"$wine_run" "$qelctl" --help </dev/null >"$work/qelctl-help.txt" 2>&1
check "qelctl.exe --help ends with status 0" [ $? -eq 0 ]
check "qelctl.exe --help shows the usage" \
  [ "$(head -1 "$work/qelctl-help.txt" | tr -d '\r')" = "Usage: qelctl [--port N] [-v] COMMAND [OPTIONS] [ARGS]" ]
# Without a manager: the closed port is reported to the receive (under
# wine only when the 5.5 s wait for the CONNECT's answer has ended, as a
# pending error).
"$wine_run" "$qelctl" status </dev/null >"$work/qelctl-status.out" 2>"$work/qelctl-status.err"
check "qelctl.exe status without a manager ends with status 3" [ $? -eq 3 ]
check "it says the service is not available" \
  [ "$(tr -d '\r' <"$work/qelctl-status.err")" = "qelctl: The QEL Manager service is not available, please try again in a few minutes" ]
check "it writes nothing to standard output" [ ! -s "$work/qelctl-status.out" ]

# ---- the installer ----------------------------------------------------------------
installer=$build/qelvane-setup-$version.exe
installed="$prefix/drive_c/Program Files/Qelvane"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Qelvane"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qelvane'
registered() { "$wine_run" reg query "$key" >/dev/null 2>&1; }
rm -rf "$installed" "$menu"
"$wine_run" "$installer" /S </dev/null >/dev/null 2>&1
check "the installer ends with status 0" [ $? -eq 0 ]
check "it installs the programs" [ -f "$installed/qel-panel.exe" -a -f "$installed/qelctl.exe" ]
check "it installs the pictures" [ -f "$installed/res/qel_icon-256.png" -a -f "$installed/res/dpi90-power-grey.png" ]
check "it installs the translations" [ -f "$installed/locale/de/LC_MESSAGES/qelvane.mo" ]
check "it installs the uninstaller" [ -f "$installed/uninstall.exe" ]
check "it makes the Start menu entry" [ -f "$menu/Qelvane control panel.lnk" ]
check "it registers the uninstaller with Windows" registered

start_manager || bad "the manager started again"
start_panel installed 'C:\Program Files\Qelvane\qel-panel.exe'
if wait_for 60 window_shown Qelvane; then
  ok "the installed program shows its window"
  check "it runs in the installation directory" \
    panel_logged 'working directory C:\Program Files\Qelvane'
  check "it is the manager's client" wait_for 10 clients_are 1
  # The installed qelctl beside it, as a second client.
  "$wine_run" 'C:\Program Files\Qelvane\qelctl.exe' status </dev/null >"$work/qelctl-installed.out" 2>&1
  check "the installed qelctl.exe status ends with status 0" [ $? -eq 0 ]
  check "it shows the manager's status" \
    grep -qE "^Manager version: +[0-9]" "$work/qelctl-installed.out"
  wait_for 5 panel_logged "QelPanel::setOptionsState"
  screenshot Qelvane "$build/screenshot-installed.png"
  close_panel
  panel_exit 20
  check "the installed program ends with status 0" [ "$panel_code" = 0 ]
else
  bad "the installed program shows its window"
  panel_exit 1
fi
stop_manager

# The uninstaller copies itself away and runs from there: its end is seen
# in the installation directory, which it removes last.
"$wine_run" 'C:\Program Files\Qelvane\uninstall.exe' /S </dev/null >/dev/null 2>&1
gone() { [ ! -e "$installed" ]; }
check "the uninstaller removes the installation" wait_for 60 gone
check "it removes the Start menu entry" [ ! -e "$menu" ]
check "it unregisters itself" eval '! registered'

echo "windows_panel: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
