#!/bin/bash
# Runs inside the test VM as root (the host's root, read-only under a tmpfs overlay). The
# host's scripts/test-kernel-hid copies it to the run folder (/run/khid) with an "env" file
# beside it that names the checkout (SRC), the build folder (BUILD) and the cases (CASES).
# Every case serves tests/kernel-hid/scenario.json through /dev/uhid with tovrak-uhid and
# drives the real programs against the kernel's HID devices (TOVRAK_EMULATOR is unset).
# One line per case goes to /run/khid/summary: "<case> passed|FAILED <seconds> s [why]".
set -uo pipefail
RUN=/run/khid
. "$RUN/env"
unset TOVRAK_EMULATOR
export LC_ALL=C.UTF-8
UHID=$BUILD/tools/tovrak-uhid
CLI=$BUILD/tools/cli/tovrak-cli
SCENARIO=$SRC/tests/kernel-hid/scenario.json
CHECK=$SRC/tests/kernel-hid/check-flash.py
SAFE=T207-533B-0042       # 533, safe upgrade: header at the firmware base + 4096
UNSAFE=T204-534A-0318     # 534, unsafe upgrade: header at the firmware base
NOFILE=P208-300C-1977     # partner device, no firmware file: untouched
BASE=0x10000

log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }
now() { date +%s.%N; }

# ---- helpers ------------------------------------------------------------------------------
bridge_pid=""
start_bridge() { # dir
  mkdir -p "$1/dump"
  "$UHID" ${UHID_TRACE:+--trace} ${2:+--trace} --control "$1/control" --dump-dir "$1/dump" "$SCENARIO" >"$1/uhid.out" 2>"$1/uhid.err" &
  bridge_pid=$!
  # Four kernel devices: three Tovrak devices and the keyboard.
  for _ in $(seq 200); do
    [ "$(ls /sys/class/hidraw 2>/dev/null | wc -l)" -ge 4 ] && return 0
    kill -0 "$bridge_pid" 2>/dev/null || break
    sleep 0.05
  done
  log "the bridge did not create four hidraw devices"; cat "$1/uhid.err"; return 1
}
stop_bridge() { # dir; the bridge writes the flash dumps and reports protocol violations
  echo quit >"$1/control"
  wait "$bridge_pid"; local rc=$?
  bridge_pid=""
  if [ -s "$1/uhid.err" ]; then log "bridge messages:"; sed 's/^/    /' "$1/uhid.err"; fi
  [ "$rc" -eq 0 ] || { log "tovrak-uhid exited with $rc"; return 1; }
}
node_of() { # serial -> hidrawN
  local d
  for d in /sys/class/hidraw/*; do
    grep -qx "HID_UNIQ=$1" "$d/device/uevent" 2>/dev/null && { basename "$d"; return 0; }
  done
  return 1
}
wait_for() { # seconds command...
  local limit=$1; shift
  local end=$(( $(date +%s) + limit ))
  while [ "$(date +%s)" -le "$end" ]; do "$@" && return 0; sleep 0.1; done
  return 1
}
json() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($2)" "$1"; }
folder() { # a user's program folder: texts and the firmware files
  mkdir -p "$1"
  cp "$SRC/resources/translations.csv" "$RUN"/firmware/*.ksf "$1/"
}

# ---- case: list and upgrade through hidapi and hidraw ----------------------------------------
case_native() {
  local w=/tmp/native
  folder "$w"
  start_bridge "$w" || return 1
  for s in $SAFE $UNSAFE $NOFILE; do
    local n; n=$(node_of $s) || { log "no hidraw node for $s"; return 1; }
    log "$s is /dev/$n, descriptor $(wc -c </sys/class/hidraw/$n/device/report_descriptor) bytes"
  done
  (cd "$w" && "$CLI" list --json >list.json 2>list.err); local rc=$?
  log "tovrak-cli list --json: exit $rc"; python3 -m json.tool "$w/list.json" | head -c 3000
  [ "$rc" -eq 0 ] || { cat "$w/list.err"; return 1; }
  [ "$(json "$w/list.json" "(d['deviceCount'], d['upgradableCount'])")" = "(3, 2)" ] || { log "list: wrong counts"; return 1; }
  [ "$(json "$w/list.json" "sorted(x['serialNumber'] for x in d['devices'])")" = "['$NOFILE', '$UNSAFE', '$SAFE']" ] \
    || { log "list: wrong devices"; return 1; }
  local t0; t0=$(now)
  (cd "$w" && "$CLI" upgrade --all --yes --json >upgrade.json 2>upgrade.err); rc=$?
  log "tovrak-cli upgrade --all --yes: exit $rc in $(echo "$(now) - $t0" | bc) s"
  cat "$w/upgrade.err"
  [ "$rc" -eq 0 ] || return 1
  [ "$(json "$w/upgrade.json" "sorted((x['serialNumber'], x['result']) for x in d['devices'] if x['result'] != 'skipped')")" \
    = "[('$UNSAFE', 'verified'), ('$SAFE', 'verified')]" ] || { log "upgrade: wrong results"; return 1; }
  stop_bridge "$w" || return 1
  python3 "$CHECK" "$w/dump/$SAFE.flash" --image "$w/tovrak_40.ksf" --header-at $((BASE + 4096)) \
    && python3 "$CHECK" "$w/dump/$UNSAFE.flash" --image "$w/tovrak_5.ksf" --header-at $BASE \
    && python3 "$CHECK" "$w/dump/$NOFILE.flash" --untouched $BASE:157
}

# ---- case: unplug and replug while tovrak-cli watch runs ------------------------------------------
case_hotplug() {
  local w=/tmp/hotplug
  folder "$w"
  start_bridge "$w" || return 1
  (cd "$w" && exec "$CLI" watch --json --seconds 60 >watch.out 2>watch.err) &
  local watch_pid=$!
  count() { grep -c "\"event\": *\"$1\".*\"serialNumber\": *\"$2\"" "$w/watch.out"; }
  at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }
  wait_for 20 at_least attached $SAFE 1 && wait_for 5 at_least attached $UNSAFE 1 && wait_for 5 at_least attached $NOFILE 1 \
    || { log "watch did not list the devices"; cat "$w/watch.out" "$w/watch.err"; return 1; }
  local before; before=$(node_of $UNSAFE)
  local t0; t0=$(now)
  echo "unplug $UNSAFE" >"$w/control"
  wait_for 5 at_least detached $UNSAFE 1 || { log "watch missed the unplug"; cat "$w/watch.out"; return 1; }
  log "unplug seen by watch after $(echo "$(now) - $t0" | bc) s; /dev/$before present: $([ -e /dev/$before ] && echo yes || echo no)"
  t0=$(now)
  echo "plug $UNSAFE" >"$w/control"
  wait_for 5 at_least attached $UNSAFE 2 || { log "watch missed the replug"; cat "$w/watch.out"; return 1; }
  local after; after=$(node_of $UNSAFE)
  log "replug seen by watch after $(echo "$(now) - $t0" | bc) s; hidraw node before $before, after $after"
  [ "$before" = "$after" ] || { log "the replug did not reuse the hidraw node"; return 1; }
  # Unplug and replug between two polls of the device list: the same node, a new device.
  echo "unplug $SAFE" >"$w/control"; echo "plug $SAFE" >"$w/control"
  sleep 1
  kill -INT $watch_pid; wait $watch_pid
  log "watch output:"; sed 's/^/    /' "$w/watch.out"
  [ "$(count detached $SAFE)" -eq 0 ] || log "note: the fast replug of $SAFE was seen as detached and attached"
  (cd "$w" && "$CLI" list --json >list.json 2>list.err) || { log "list after the replugs failed"; cat "$w/list.err"; return 1; }
  [ "$(json "$w/list.json" "d['deviceCount']")" = 3 ] || { log "list after the replugs: wrong count"; return 1; }
  [ "$(count attached $NOFILE)" -eq 1 ] && [ "$(count detached $NOFILE)" -eq 0 ] || { log "an untouched device came and went"; return 1; }
  stop_bridge "$w"
}

# ---- case: a device that never answers beside good ones ---------------------------------------
# The 534 is muted: the kernel times every report request out after 5 s. While one is pending,
# the kernel lets no hidraw node be opened or closed (hidraw's table lock), so the first probe of
# the dead device holds up every other device's set-up; after it, the dead device is tried again
# only at the longest delay. A device plugged in once the first probe has ended must be listed
# within a second, the watch must end within 2 s plus one request bound, and list must name the
# dead device by its node (exit 6); the figures are logged.
case_dead() {
  local w=/tmp/dead
  folder "$w"
  start_bridge "$w" || return 1
  local dead; dead=$(node_of $UNSAFE) || { log "no hidraw node for $UNSAFE"; return 1; }
  echo "unplug $SAFE" >"$w/control"
  echo "mute $UNSAFE" >"$w/control"
  sleep 0.5
  (cd "$w" && exec "$CLI" watch --json --seconds 60 >watch.out 2>watch.err) &
  local watch_pid=$!
  count() { grep -c "\"event\": *\"$1\".*\"serialNumber\": *\"$2\"" "$w/watch.out"; }
  at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }
  wait_for 20 at_least attached $NOFILE 1 || { log "watch did not list the partner device"; cat "$w/watch.out" "$w/watch.err"; return 1; }
  local t0; t0=$(now)
  wait_for 10 grep -q "does not answer" "$w/TovrakUpgrade.log.txt" || { log "the dead device was not noticed"; return 1; }
  log "the dead device's first probe ended $(echo "$(now) - $t0" | bc) s after the partner device was listed"
  t0=$(now)
  echo "plug $SAFE" >"$w/control"
  wait_for 10 at_least attached $SAFE 1 || { log "watch missed the device beside the dead one"; cat "$w/watch.out"; return 1; }
  local listed; listed=$(echo "$(now) - $t0" | bc)
  log "a device plugged in beside the dead one listed after $listed s"
  t0=$(now)
  kill -INT $watch_pid; wait $watch_pid
  local ended; ended=$(echo "$(now) - $t0" | bc)
  log "watch ended $ended s after Ctrl+C"
  [ "$(count attached $UNSAFE)" -eq 0 ] || { log "the dead device was listed"; return 1; }
  t0=$(now)
  (cd "$w" && "$CLI" list >list.out 2>list.err); local rc=$?
  log "tovrak-cli list beside the dead device: exit $rc after $(echo "$(now) - $t0" | bc) s; $(cat "$w/list.err")"
  echo "unmute $UNSAFE" >"$w/control"
  stop_bridge "$w" || return 1
  [ "$rc" -eq 6 ] || { log "list: exit $rc, expected 6"; return 1; }
  grep -q "Could not read the device at /dev/$dead: " "$w/list.err" || { log "list did not name /dev/$dead"; return 1; }
  # The VM emulates its CPU in software: an ordinary replug takes 1 to 2 s to reach watch here
  # (hotplug case), so the check is that the device did not wait out a dead request (5 s).
  [ "$(echo "$listed < 4.0" | bc)" -eq 1 ] || { log "listed after $listed s: it waited for the dead device"; return 1; }
  [ "$(echo "$ended < 7.0" | bc)" -eq 1 ] || { log "watch took $ended s to end"; return 1; }
}

# ---- case: the window on Xvfb upgrading one device ------------------------------------------------
# Only the HD60 Pro's firmware file is in the folder, so "Select All" selects that one device.
case_window() {
  local w=/tmp/window
  mkdir -p "$w"; cp "$SRC/resources/translations.csv" "$RUN/firmware/tovrak_40.ksf" "$w/"
  start_bridge "$w" || return 1
  Xvfb -screen 0 1280x800x24 -nolisten tcp -noreset -displayfd 9 9>"$w/display" >/dev/null 2>&1 &
  local xvfb_pid=$!
  wait_for 20 test -s "$w/display" || { log "Xvfb did not start"; return 1; }
  export DISPLAY=":$(cat "$w/display")"
  (cd "$w" && exec "$BUILD/source/app/TovrakUpgrade" >program.out 2>&1) &
  local program_pid=$!
  local window=""
  find_window() { window=$(xdotool search --name "Tovrak Upgrade Utility" 2>/dev/null | head -n1); [ -n "$window" ]; }
  wait_for 60 find_window || { log "the window did not appear"; kill $xvfb_pid; return 1; }
  local log_file=$w/TovrakUpgrade.log.txt
  listed() { grep -q "find a new device :T207-533B-0042" "$log_file" 2>/dev/null; }
  wait_for 30 listed || { log "the window did not find the device"; kill $xvfb_pid; return 1; }
  sleep 2
  # "Select All" at the left of the button strip, "Update" at its right (window coordinates).
  xdotool mousemove --window "$window" 29 669 click 1; sleep 0.5
  xdotool mousemove --window "$window" 1011 669 click 1; sleep 1.5
  xdotool key Return
  verified() { [ "$(grep -c "verify firmware data end." "$log_file")" -ge 1 ]; }
  wait_for 90 verified || { log "the upgrade did not end"; tail -n 20 "$log_file"; kill $xvfb_pid; return 1; }
  sleep 3 # the table's poll and refill
  import -window root "$RUN/window.png"
  xdotool key --window "$window" Escape
  wait_for 15 eval '! kill -0 $program_pid 2>/dev/null' || { log "the program did not end"; kill $program_pid; }
  kill $xvfb_pid; wait $xvfb_pid 2>/dev/null
  local started; started=$(grep -c "start upgrade thread for" "$log_file")
  [ "$started" -eq 1 ] || { log "$started upgrade threads started, expected 1"; return 1; }
  stop_bridge "$w" || return 1
  python3 "$CHECK" "$w/dump/$SAFE.flash" --image "$w/tovrak_40.ksf" --header-at $((BASE + 4096)) \
    && python3 "$CHECK" "$w/dump/$UNSAFE.flash" --untouched $BASE:157
}

# ---- case: the Windows build under Wine, through Wine's hidraw bus and SetupAPI/HidD ---------
case_wine() {
  local w=/tmp/wine
  folder "$w"
  cp "$WINDOWS_CLI" "$w/tovrak-cli.exe"
  start_bridge "$w" trace || return 1
  export WINEPREFIX=$WINE_PREFIX WINEARCH=win32 WINELOADER=/usr/lib/wine/wine WINEDEBUG=${WINE_DEBUG:--all}
  unset DISPLAY
  local wine=/usr/lib/wine/wine wineserver=/usr/lib/wine/wineserver
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Made here once (the host may not run 32-bit programs) and kept by the host's cache.
    local t0; t0=$(now)
    WINEPREFIX=/root/wine-prefix "$wine" wineboot -i >/dev/null 2>&1
    # Debian's Wine starts only its SDL bus unless told otherwise; the hidraw bus is the one wanted.
    WINEPREFIX=/root/wine-prefix "$wine" reg add 'HKLM\System\CurrentControlSet\Services\winebus' \
      /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1
    WINEPREFIX=/root/wine-prefix "$wineserver" -w
    [ -f /root/wine-prefix/drive_c/windows/system32/zlib1.dll ] || { log "wineboot made an incomplete prefix"; return 1; }
    tar -C /root/wine-prefix -cf "$RUN/wine-prefix.tar" . || return 1
    export WINEPREFIX=/root/wine-prefix
    log "Wine prefix made in $(echo "$(now) - $t0" | bc) s (kept for the next runs)"
  fi
  # Wine's bus driver adds the hidraw devices shortly after the prefix starts.
  "$wineserver" -p5
  local rc tries=0 probes
  while :; do
    tries=$((tries + 1))
    (cd "$w" && WINEDEBUG=+hid timeout 120 "$wine" tovrak-cli.exe list --json >list.json 2>list.err); rc=$?
    # The backend fetches input reports with DeviceIoControl, which hid.dll does not trace; Wine's
    # class driver traces each request it receives with its code (IOCTL_HID_GET_INPUT_REPORT is
    # 0xb01a2).
    probes=$(grep -ac "pdo_ioctl .*code 0xb01a2" "$w/list.err")
    [ "$probes" -ge 2 ] && break
    [ "$tries" -lt 10 ] || break
    sleep 1
  done
  "$wineserver" -k
  log "Wine: tovrak-cli.exe list: exit $rc after $tries attempt(s)"
  log "Wine: SetupAPI interfaces opened: $(grep -c "HidD_GetAttributes" "$w/list.err") attribute reads;" \
      "probes that reached the input report (vendor id, product id, descriptor and serial string accepted): $probes"
  local requests; requests=$(grep -c "get report" "$w/uhid.err")
  log "Wine: GET_REPORT requests that reached the device: $requests"
  # Measured with Debian's Wine 8: its HID class driver answers an input report request without
  # asking the device (no GET_REPORT reaches the kernel device), so the probe fails and no
  # device is accepted. The case holds that state: it fails when Wine starts passing the
  # request on (then the listing and the upgrade must be checked here) or when fewer than the
  # Tovrak devices reach the probe. Measured on 2026-12-10 with a fresh install (the old and the
  # new Windows backend alike): Wine's hidraw bus gives the 534's interface vendor and product
  # id 0, so two of the three reach the input report; the ids Wine gave are logged below.
  grep -a "HID interface" "$w/TovrakUpgrade.log.txt" 2>/dev/null | sed 's/^.*HID interface/    HID interface/' | sort -u
  [ "$probes" -ge 2 ] || { log "Wine did not reach the Tovrak devices"; tr -d '\r' <"$w/list.err" | tail -n 20; return 1; }
  [ "$requests" -eq 0 ] && [ "$rc" -eq 3 ] || { log "Wine passed input reports on: list and upgrade must be checked now"; return 1; }
  stop_bridge "$w" >/dev/null || true
}

# ---- run the cases ---------------------------------------------------------------------------
: >"$RUN/summary"
overall=0
log "kernel $(uname -r); uhid: $([ -c /dev/uhid ] && echo yes || echo no)"
for c in $CASES; do
  log "=== case $c"
  t0=$(now)
  if "case_$c"; then result=passed; else result=FAILED; overall=1; fi
  if [ -n "$bridge_pid" ]; then kill "$bridge_pid" 2>/dev/null; wait "$bridge_pid" 2>/dev/null; bridge_pid=""; fi
  seconds=$(printf '%.1f' "$(echo "$(now) - $t0" | bc)")
  log "=== case $c: $result in $seconds s"
  echo "$c $result $seconds" >>"$RUN/summary"
done
exit $overall
