# shellcheck shell=bash
# Shared by scripts/wine-tests and scripts/screenshot-windows; sourced, not run. Finds Wine,
# makes fresh Wine prefixes, starts a virtual X display and virtual targets (quillon-sim) for
# Wine COM ports, and ends and removes all of them when the sourcing script exits, however it
# exits. The sourcing script sets wc_name (its name in messages) and runs under
# `set -euo pipefail`; wc_init sets the exit trap and makes the scratch folder wc_work.

wc_name=${wc_name:-wine}
wc_pids=()        # background programs started here, ended in cleanup (last started first)
wc_prefixes=()    # Wine prefixes: their wineserver is stopped, then the folder removed
wc_dirs=()        # scratch folders removed in cleanup
wc_xvfb_pid=""    # the virtual X display started here, if any
wc_work=""
wc_window_line=""  # the line of the window test's virtual target (wc_window_target)

wc_fail() {
  echo "$wc_name: $*" >&2
  exit 1
}

# Ends one background program: SIGTERM, up to 5 s to go, then SIGKILL. It leaves wc_pids, so
# that cleanup never signals its number again (by then another process may have it).
wc_stop_pid() {
  local pid=$1 other kept=()
  for other in "${wc_pids[@]}"; do
    [ "$other" = "$pid" ] || kept+=("$other")
  done
  wc_pids=("${kept[@]}")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

wc_cleanup() {
  local prefix
  while [ ${#wc_pids[@]} -gt 0 ]; do  # the last started first
    wc_stop_pid "${wc_pids[${#wc_pids[@]} - 1]}"
  done
  for prefix in "${wc_prefixes[@]}"; do
    WINEPREFIX=$prefix timeout 30 "${wineserver:-wineserver}" -k </dev/null >/dev/null 2>&1 || true
  done
  if [ -n "$wc_xvfb_pid" ]; then
    wc_stop_pid "$wc_xvfb_pid"
  fi
  if [ ${#wc_prefixes[@]} -gt 0 ] || [ ${#wc_dirs[@]} -gt 0 ]; then
    rm -rf -- "${wc_prefixes[@]}" "${wc_dirs[@]}"
  fi
}

# Finds Wine (sets wine and wineserver), sets the exit trap and makes the scratch folder.
wc_init() {
  wine=$(command -v wine || command -v wine64 || true)
  wineserver=$(command -v wineserver || true)
  if [ -z "$wine" ] || [ -z "$wineserver" ]; then
    wc_fail "wine is missing (scripts/install-deps --wine)"
  fi
  command -v timeout >/dev/null || wc_fail "timeout (coreutils) is missing"
  # No Wine debug output, no offer to install the .NET and HTML runtimes (a dialog that would
  # wait on a display), and no menu entries or file associations written into $HOME.
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
  trap wc_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  wc_work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-wine-work.XXXXXX")
  wc_dirs+=("$wc_work")
}

# Waits up to 10 s for the first line of a background program's output file and prints it.
wc_first_line() {
  local file=$1 line=""
  for _ in $(seq 200); do
    line=$(head -n 1 "$file" 2>/dev/null || true)
    [ -n "$line" ] && break
    sleep 0.05
  done
  printf '%s' "$line"
}

# A Unix path as Wine's drive Z: sees it, with backslashes: /tmp/a b -> Z:\tmp\a b.
wc_win_path() {
  local path=$1
  printf 'Z:%s' "${path//\//\\}"
}

# wc_new_prefix VAR: makes and boots a fresh Wine prefix and puts its path in VAR. Its server
# and Wine's own services keep running until cleanup; none of them may hold the script's output
# open, or a pipe reading it would never end. Three changes to a plain prefix:
#  - a program that crashes gets its backtrace on stderr and ends, instead of Wine's crash
#    dialog, which on a display waits for a click that never comes;
#  - Wine draws window frames itself (no window manager on a virtual display);
#  - the COM ports Wine makes for the machine's own serial devices (COM1 -> /dev/ttyS0) are
#    taken away: a test must reach only the ports the script joins to its virtual targets.
wc_new_prefix() {
  local wc_var=$1 wc_dir wc_log
  wc_dir=$(mktemp -d "${TMPDIR:-/tmp}/quillon-wine.XXXXXX")
  wc_prefixes+=("$wc_dir")
  wc_log="$wc_work/wineboot-$(basename "$wc_dir").log"
  WINEPREFIX=$wc_dir timeout 60 "$wineserver" -p </dev/null >"$wc_log" 2>&1 ||
    { cat "$wc_log" >&2; wc_fail "the Wine server did not start for $wc_dir"; }
  WINEPREFIX=$wc_dir timeout 300 "$wine" wineboot -i </dev/null >>"$wc_log" 2>&1 ||
    { cat "$wc_log" >&2; wc_fail "wineboot -i failed or took longer than 300 s in $wc_dir"; }
  WINEPREFIX=$wc_dir timeout 60 "$wine" reg add 'HKCU\Software\Wine\WineDbg' \
    /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >>"$wc_log" 2>&1 ||
    { cat "$wc_log" >&2; wc_fail "could not turn off the crash dialog in $wc_dir"; }
  # Wine draws the windows' frames and captions itself: with no window manager on the virtual
  # display it would otherwise wait 2 s for one at every window that closes, and a picture of
  # a window would show a black frame.
  WINEPREFIX=$wc_dir timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d N /f </dev/null >>"$wc_log" 2>&1 ||
    { cat "$wc_log" >&2; wc_fail "could not set up the window frames in $wc_dir"; }
  find "$wc_dir/dosdevices" -maxdepth 1 -type l -name 'com*' -delete
  # One Wine program that stays for the whole run keeps Wine's desktop process alive; without
  # it every window program starts a new one, which can stall for 10 s and more.
  # It waits for a key on a pipe that nobody writes to (opened for reading and writing, so
  # that opening it does not wait for a writer).
  local wc_keep
  wc_keep="$wc_work/keep-$(basename "$wc_dir")"
  mkfifo "$wc_keep"
  WINEPREFIX=$wc_dir timeout 1800 "$wine" cmd /c pause <>"$wc_keep" >/dev/null 2>&1 &
  wc_pids+=($!)
  printf -v "$wc_var" '%s' "$wc_dir"
}

# Exports DISPLAY: the caller's if set, else a virtual X display started here on the first free
# number from :90 to :120 (no socket and no lock file there; another one that wins the race for
# the same number makes this one end, and the next number is tried).
wc_start_xvfb() {
  if [ -n "${DISPLAY:-}" ]; then
    echo "$wc_name: on the display $DISPLAY"
    return 0
  fi
  command -v Xvfb >/dev/null || wc_fail "Xvfb is missing (scripts/install-deps)"
  local n pid
  for n in $(seq 90 120); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then
      continue
    fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$wc_work/xvfb-$n.log" 2>&1 &
    pid=$!
    for _ in $(seq 200); do
      [ -S "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$pid" 2>/dev/null; then
      wc_xvfb_pid=$pid
      export DISPLAY=":$n"
      echo "$wc_name: on the virtual display $DISPLAY (Xvfb)"
      return 0
    fi
    wc_stop_pid "$pid"
  done
  wc_fail "no virtual X display could be started on :90 to :120 (see $wc_work/xvfb-*.log)"
}

# wc_start_sim VAR NAME PROGRAM [OPTION]...: starts the virtual target PROGRAM (quillon-sim)
# without a link in the per-user port folder, waits for its line and puts the line's path in
# VAR; its process id is in wc_sim_pid, its output in $wc_work/NAME.out and NAME.err. It ends
# after 20 minutes at the latest, should the script's cleanup never run.
wc_start_sim() {
  local wc_var=$1 wc_sim_name=$2 wc_program=$3 wc_line
  shift 3
  "$wc_program" --link none --exit-after 1200 "$@" \
    </dev/null >"$wc_work/$wc_sim_name.out" 2>"$wc_work/$wc_sim_name.err" &
  wc_sim_pid=$!
  wc_pids+=("$wc_sim_pid")
  wc_line=$(wc_first_line "$wc_work/$wc_sim_name.out")
  if [ -z "$wc_line" ]; then
    cat "$wc_work/$wc_sim_name.err" >&2
    wc_fail "the virtual target $wc_sim_name did not start"
  fi
  printf -v "$wc_var" '%s' "$wc_line"
}

# wc_window_target PREFIX PROGRAM [SIM_OPTION...]: the virtual target of the window's end-to-end
# test, for any number of sessions, on COM9 of the Wine prefix PREFIX; exports
# QUILLON_TEST_WINDOW_PORT.
wc_window_target() {
  wc_start_sim wc_window_line window-sim "$2" "${@:3}"
  ln -sfn "$wc_window_line" "$1/dosdevices/com9"
  export QUILLON_TEST_WINDOW_PORT=COM9
}

# wc_production_targets PREFIX PROGRAM CRC_AT [SIM_OPTION...]: the three virtual targets of the
# production view's end-to-end case, for any number of sessions, on COM13, COM14 and COM15 of
# the Wine prefix PREFIX; the third answers its second session with a CRC error at CRC_AT
# (--crc-error-at). Targets of an earlier call are ended first, so that a case run again finds
# fresh ones. Exports QUILLON_TEST_PRODUCTION_PORTS.
wc_production_pids=()
wc_production_targets() {
  local wc_prefix=$1 wc_program=$2 wc_crc_at=$3 wc_station wc_station_line="" wc_pid
  shift 3
  for wc_pid in "${wc_production_pids[@]}"; do
    wc_stop_pid "$wc_pid"
  done
  wc_production_pids=()
  for wc_station in 1 2 3; do
    local wc_faults=()
    if [ "$wc_station" = 3 ]; then
      wc_faults=(--crc-error-at "$wc_crc_at" --fault-session 2)
    fi
    wc_start_sim wc_station_line "production-sim$wc_station" "$wc_program" "$@" "${wc_faults[@]}"
    wc_production_pids+=("$wc_sim_pid")
    ln -sfn "$wc_station_line" "$wc_prefix/dosdevices/com$((12 + wc_station))"
  done
  export QUILLON_TEST_PRODUCTION_PORTS=COM13,COM14,COM15
}

# A screenshot file named as a Unix path is handed to the Windows program as Z:\...
wc_export_screenshot_path() {
  if [ -n "${QUILLON_SCREENSHOT_BMP:-}" ]; then
    case $QUILLON_SCREENSHOT_BMP in
      /*) QUILLON_SCREENSHOT_BMP=$(wc_win_path "$QUILLON_SCREENSHOT_BMP") ;;
    esac
    export QUILLON_SCREENSHOT_BMP
  fi
}
