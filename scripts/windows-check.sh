#!/usr/bin/env bash
# Proves the Windows package of dist/ under Wine, on a private X server and a private Wine prefix:
#   1. the installer runs silently, its files, Start-menu entry and uninstall key land;
#   2. the installed program starts, shows its window (screenshot in build-windows/check/),
#      makes its working directories and log beside itself, and ends when its window is closed;
#   3. vqs-ctl.exe identifies a UART and a USB sensor (vqs-sim on pseudo-terminals mapped as
#      COM ports), reads the parameter document, and records three cycles in files shaped
#      byte for byte like the Linux build's, enciphered records readable by the Linux vqs-decrypt;
#      and records with --mqtt to Debian's mosquitto on Linux, whose cycles the Linux vqs-ctl watch gets;
#   4. the program's page (unpacked from the zip) finds a sensor on a COM port, starts,
#      records rows and stops;
#   5. stm32flash.exe writes an image into the simulated bootloader, run as the program's UART
#      upgrade runs it;
#   and the uninstaller removes what the installer put there.
# The Wine user is named with letters that neither Latin-1 nor the ANSI code page can spell
# ("Łukasz Олег 李"), so that name is in every path the program and tools use: the install
# under %LOCALAPPDATA%, its log, the recorded runs, the page's run files and the image flashed.
# Needs: bash scripts/windows.sh (dist/ and build-windows/), and the Linux tools in build/
# (built here when missing).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=$(dirname "$WINE")/wineserver
version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="VQS-Sensor-Interface-$version-win64"
setup="$root/dist/$name-setup.exe"
zip_file="$root/dist/$name.zip"
page_check="$root/build-windows/checks/vqs-page-check.exe"
linux="$root/build"
out="$root/build-windows/check"

for f in "$setup" "$zip_file" "$page_check"; do
    [ -f "$f" ] || { echo "windows-check: $f missing: run bash scripts/windows.sh first" >&2; exit 1; }
done
[ -x "$WINE" ] || { echo "windows-check: $WINE missing (apt-get install wine64)" >&2; exit 1; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "windows-check: $tool missing (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
done
if [ ! -x "$linux/bin/vqs-sim" ] || [ ! -x "$linux/bin/vqs-ctl" ] || [ ! -x "$linux/bin/vqs-decrypt" ]; then
    [ -f "$linux/CMakeCache.txt" ] || cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$linux" --target vqs-sim vqs-ctl vqs-decrypt >/dev/null
fi

rm -rf "$out"
mkdir -p "$out"
failures=0
ok() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # description, command...
    local what="$1"
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}

pids=()
cleanup() {
    local p
    for p in "${pids[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# Waits up to $1 seconds for the command to succeed.
wait_for() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# A private X server: the display number is the first free one, as Xvfb reports it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$out/xvfb.log" 2>&1 3>"$out/display" &
xvfb_pid=$!
wait_for 20 test -s "$out/display" || { echo "windows-check: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$out/display")"

export WINEPREFIX="$out/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine names the prefix's user, and so the profile directory, after $USER; UTF-8 is the
# charset it converts names and arguments with.
wine_user='Łukasz Олег 李'
export USER="$wine_user" LOGNAME="$wine_user" LC_ALL=C.UTF-8
timeout 180 "$WINE" wineboot -i >/dev/null 2>&1 || { echo "windows-check: wineboot failed" >&2; exit 1; }
winpath_w() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
# The console's code page cannot show the name, so the profile's places are named here, not asked for.
profile="$WINEPREFIX/drive_c/users/$wine_user"
[ -d "$profile/AppData/Local" ] || { echo "windows-check: no Wine profile $profile" >&2; exit 1; }
echo "Wine user profile: $(winpath_w "$profile")"

# --- 1. silent install ------------------------------------------------------------------------
echo "== installer"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VQS-Sensor-Interface'
check "installer runs silently (/S) without administrator rights" timeout 180 "$WINE" "$setup" /S
instdir="$profile/AppData/Local/Programs/VQS Sensor Interface"
startmenu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/VQS Sensor Interface"
installed_all=true
while IFS= read -r rel; do
    [ -f "$instdir/$rel" ] || { echo "     missing $rel"; installed_all=false; }
done < <(cd "$out" && unzip -Z1 "$zip_file" | grep -v '/$' | sed "s|^$name/||")
check "every file of the zip installed in $instdir" $installed_all
check "flasher, platform plugin and uninstaller beside the program" \
    test -f "$instdir/stm32flash.exe" -a -f "$instdir/platforms/qwindows.dll" -a -f "$instdir/uninstall.exe"
check "MQTT client library beside vqs-ctl" test -f "$instdir/libmosquitto.dll"
check "Start-menu entry" test -f "$startmenu/VQS Sensor Interface.lnk"
"$WINE" reg query "$uninstall_key" 2>/dev/null | tr -d '\r' >"$out/uninstall-key.txt" || true
check "uninstaller listed in the user's installed programs (HKCU)" \
    grep -q 'UninstallString.*uninstall.exe' "$out/uninstall-key.txt"

# --- 2. the installed program -----------------------------------------------------------------
echo "== installed program"
"$WINE" "$instdir/vqs-sensor-interface.exe" >"$out/program.out" 2>&1 &
program=$!
pids+=("$program")
title="Sensor Interface - V$version"
if wait_for 60 xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; then
    ok "main window shown: $(xdotool search --onlyvisible --name "$title" getwindowname 2>/dev/null | head -n1)"
    sleep 1  # the first paint
    import -window root "$out/installed-program.png" && echo "     screenshot: $out/installed-program.png"
else
    fail "main window shown"
fi
check "working directories TempData, enc and log beside the program" \
    test -d "$instdir/TempData" -a -d "$instdir/enc" -a -d "$instdir/log"
logfile="$(ls "$instdir"/log/log_*.txt 2>/dev/null | head -n1 || true)"
check "log file written beside the program (under the user's profile)" \
    grep -q "Info: VQS Sensor Interface $version started" "${logfile:-/dev/null}"
# Closing the window asks first, with Cancel as the default button: move to OK and press it.
# Without a window manager the keys go to the focused window, which the box takes.
closed=false
for keys in "shift+Tab space" "Tab space"; do
    "$WINE" taskkill /IM vqs-sensor-interface.exe >/dev/null 2>&1 || true
    if wait_for 20 xdotool search --onlyvisible --name "^vqs-sensor-interface$" >/dev/null 2>&1; then
        box="$(xdotool search --onlyvisible --name "^vqs-sensor-interface$" | head -n1)"
        sleep 0.5
        import -window root "$out/close-question.png" || true
        xdotool windowfocus "$box" >/dev/null 2>&1 || true
        xdotool key --clearmodifiers $keys
    fi
    if wait_for 15 bash -c "! kill -0 $program 2>/dev/null"; then
        closed=true
        break
    fi
done
if $closed; then
    wait "$program" && code=0 || code=$?
    check "program ended cleanly when its window was closed (exit code $code)" test "$code" -eq 0
else
    fail "program ended when its window was closed"
    kill "$program" 2>/dev/null || true
fi
# Wine's prefix has no stock message-box icons, so Qt's Windows plugin says it could
# not read one whenever a box with an icon is shown; Windows has them.
check "no critical or fatal record in the log" bash -c \
    "! grep -E '^(Critical|Fatal):' '${logfile:-/dev/null}' | grep -vq 'QPixmap::fromWinHICON(), failed to GetIconInfo()'"

# --- sensors on COM ports -----------------------------------------------------------------
start_sim() {  # variable for the pid, link name, options
    local var=$1 link="$out/$2"
    shift 2
    rm -f "$link"
    "$linux/bin/vqs-sim" --link "$link" "$@" >"$link.log" 2>&1 &
    pids+=($!)
    printf -v "$var" '%s' $!
    wait_for 10 test -L "$link" || { echo "windows-check: simulator did not come up: $(cat "$link.log")" >&2; exit 1; }
}
uart_id=(--name VQS-WIN-UART --type 3 --sample-period 500)
usb_id=(--name VQS-WIN-USB --type 5 --sample-period 500)
start_sim uart_pid tty-uart --uart "${uart_id[@]}"
start_sim usb_pid tty-usb --usb "${usb_id[@]}"
start_sim page_pid tty-page --uart --name VQS-WIN-PAGE --sample-period 500
# The image waits in the user's downloads.
image="$profile/Downloads/image.bin"
mkdir -p "$(dirname "$image")"
head -c 3000 /dev/urandom >"$image"
start_sim flash_pid tty-flash --uart --name VQS-WIN-FLASH --flash-out "$out/flash-out.bin"

# COM ports through the registry (a cold start of the prefix picks them up).
"$WINESERVER" -w
for map in COM5:tty-uart COM6:tty-usb COM7:tty-uart-rec-win COM8:tty-usb-rec-win COM9:tty-page COM4:tty-flash; do
    "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "${map%%:*}" /t REG_SZ /d "$out/${map#*:}" /f >/dev/null 2>&1
done
"$WINESERVER" -w

# --- 3. vqs-ctl under Wine --------------------------------------------------------------------
echo "== vqs-ctl.exe"
ctl="$instdir/vqs-ctl.exe"
"$WINE" "$ctl" identify COM5 --uart >"$out/identify-uart.txt" 2>&1 || true
check "identifies the UART sensor on COM5" grep -q "VQS-WIN-UART" "$out/identify-uart.txt"
"$WINE" "$ctl" identify COM6 --usb >"$out/identify-usb.txt" 2>&1 || true
check "identifies the USB sensor on COM6" grep -q "VQS-WIN-USB" "$out/identify-usb.txt"
"$WINE" "$ctl" params get COM5 --uart 2>"$out/params-win.err" | tr -d '\r' >"$out/params-win.json" || true
"$linux/bin/vqs-ctl" params get "$out/tty-uart" --uart >"$out/params-linux.json" 2>/dev/null || true
check "parameter document read, the same as the Linux build reads" \
    bash -c "grep -q generalParams '$out/params-win.json' && cmp -s '$out/params-win.json' '$out/params-linux.json'"

# Three cycles each, the Windows and the Linux build at once on identical simulated sensors,
# started together (their values follow their own clocks).
# The Windows build records into the user's documents.
rec_win="$profile/Documents/rec-win"
mkdir -p "$rec_win" "$out/rec-linux"
"$WINESERVER" -w
for sensor in uart usb; do
    id=uart_id
    [ $sensor = usb ] && id=usb_id
    eval "ids=(\"\${$id[@]}\")"
    start_sim ${sensor}w_pid tty-$sensor-rec-win --$sensor "${ids[@]}"
    start_sim ${sensor}l_pid tty-$sensor-rec-linux --$sensor "${ids[@]}"
done
recdir_w="$(winpath_w "$rec_win")"
timeout 120 "$WINE" "$ctl" record COM7 --uart --cycles 3 --dir "$recdir_w" >"$out/record-win-uart.txt" 2>&1 &
rw1=$!
timeout 120 "$WINE" "$ctl" record COM8 --usb --cycles 3 --dir "$recdir_w" >"$out/record-win-usb.txt" 2>&1 &
rw2=$!
timeout 120 "$linux/bin/vqs-ctl" record "$out/tty-uart-rec-linux" --uart --cycles 3 --dir "$out/rec-linux" >"$out/record-linux-uart.txt" 2>&1 &
rl1=$!
timeout 120 "$linux/bin/vqs-ctl" record "$out/tty-usb-rec-linux" --usb --cycles 3 --dir "$out/rec-linux" >"$out/record-linux-usb.txt" 2>&1 &
rl2=$!
rec_ok=true
for p in $rw1 $rw2 $rl1 $rl2; do wait "$p" || rec_ok=false; done
check "recorded three cycles of each sensor (Windows and Linux builds)" $rec_ok

# Same lines, CR LF ends, the same bytes per line, the same text with digits masked.
same_shape() {  # windows file, linux file, [crlf: every line must end in CR LF]
    python3 - "$1" "$2" "${3:-}" <<'PY'
import re, sys
a, b = (open(p, 'rb').read() for p in sys.argv[1:3])
crlf = sys.argv[3] == 'crlf'
la, lb = a.split(b'\n'), b.split(b'\n')
problems = []
if len(la) != len(lb):
    problems.append(f'{len(la) - 1} lines against {len(lb) - 1}')
for i, (x, y) in enumerate(zip(la, lb)):
    if crlf and i < len(la) - 1 and not x.endswith(b'\r'):
        problems.append(f'line {i + 1} does not end in CR LF')
    mask = lambda s: re.sub(rb'[0-9]+', b'9', s)
    # Rows: the same fields, numbers shaped alike; a text field (a status string) is what
    # the sensor said at that instant (a first row may catch it warming up), so only its
    # place is compared.
    number = re.compile(rb'^\s*-?[0-9.]+\s*$')
    row = lambda s: [mask(f) if number.match(f) else b'text' for f in s.split(b',')]
    if (mask(x) != mask(y)) if i == 0 else (row(x) != row(y)):
        problems.append(f'line {i + 1}: {x[:60]!r} against {y[:60]!r}')
# Bytes per line; the simulators' values follow their own clocks, so a row caught at
# another instant may hold a number of another width (7.5 against 17.5).
widths = lambda ls: '/'.join(str(len(l) + 1) for l in ls[:-1])
note = '' if [len(l) for l in la] == [len(l) for l in lb] else '  (numbers of other widths)'
print(f'     bytes per line: {widths(la)} against {widths(lb)}{note}')
for p in problems[:5]:
    print('     ' + p)
sys.exit(1 if problems else 0)
PY
}
# Each enciphered record costs its text and the same framing on both builds: the file's
# size less its deciphered text is equal.
same_enc() {  # windows file, linux file, their deciphered texts
    local fw fl
    [ -s "$3" ] || return 1
    fw=$(($(stat -c %s "$1") - $(stat -c %s "$3")))
    fl=$(($(stat -c %s "$2") - $(stat -c %s "$4")))
    echo "     framing bytes: $fw against $fl"
    [ "$fw" = "$fl" ] && same_shape "$3" "$4"
}
for sensor in VQS-WIN-UART VQS-WIN-USB; do
    dw="$(ls -d "$rec_win"/*" $sensor" 2>/dev/null | head -n1 || true)"
    dl="$(ls -d "$out"/rec-linux/*" $sensor" 2>/dev/null | head -n1 || true)"
    if [ -z "$dw" ] || [ -z "$dl" ]; then
        fail "$sensor: run directories of both builds"
        continue
    fi
    for f in vqsData.csv timelog.txt; do
        check "$sensor: $f shaped like the Linux build's" same_shape "$dw/$f" "$dl/$f" crlf
    done
    for f in vqsData.enc testInfo.enc; do
        "$linux/bin/vqs-decrypt" "$dw/enc/$f" >"$out/$sensor-$f-win.txt" 2>&1 || true
        "$linux/bin/vqs-decrypt" "$dl/enc/$f" >"$out/$sensor-$f-linux.txt" 2>&1 || true
        check "$sensor: enc/$f deciphered by the Linux vqs-decrypt, records framed and shaped like the Linux build's" \
            same_enc "$dw/enc/$f" "$dl/enc/$f" "$out/$sensor-$f-win.txt" "$out/$sensor-$f-linux.txt"
    done
    check "$sensor: plot pictures written" test -s "$dw/vqsConc.png" -a -s "$dw/vqsEnviro.pdf"
done

# vqs-ctl.exe record --mqtt publishes to Debian's mosquitto on Linux (a free port of 127.0.0.1,
# configured as tests/support/mqtt_broker.h does); the Linux vqs-ctl watch is the lab's side.
echo "== vqs-ctl.exe record --mqtt"
free_port() {  # a port of 127.0.0.1 nobody listens on
    local p i
    for ((i = 0; i < 50; i++)); do
        p=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            echo "$p"
            return 0
        fi
    done
    return 1
}
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
ended() { ! kill -0 "$1" 2>/dev/null; }
watched_cycles() {  # the watch's lines, the sensor: its cycles 1, 2 and 3, in order
    [ "$(sed -n 's/.*"runCycle":\([0-9]*\).*/\1/p' "$1" | tr '\n' ' ')" = "1 2 3 " ] &&
        [ "$(grep -c "\"sensor\":\"$2\"" "$1")" = 3 ]
}
if [ ! -x /usr/sbin/mosquitto ]; then
    fail "vqs-ctl.exe record --mqtt: /usr/sbin/mosquitto missing (apt-get install mosquitto)"
elif ! mqtt_port=$(free_port); then
    fail "vqs-ctl.exe record --mqtt: no free port for the broker"
else
    mqtt="$out/mqtt"
    mkdir -p "$mqtt"
    # Started as root it would switch to the mosquitto user, who cannot write here.
    printf '%s\n' "listener $mqtt_port 127.0.0.1" "persistence false" "allow_anonymous true" \
        "log_dest file $mqtt/broker.log" "log_type all" "user $(id -un)" >"$mqtt/mosquitto.conf"
    /usr/sbin/mosquitto -c "$mqtt/mosquitto.conf" >"$mqtt/broker.out" 2>&1 &
    pids+=($!)
    if ! wait_for 20 port_open "$mqtt_port"; then
        fail "vqs-ctl.exe record --mqtt: the broker did not start: $(cat "$mqtt/broker.out")"
    else
        url="mqtt://127.0.0.1:$mqtt_port"
        # Cycles are not kept by the broker: the watcher subscribes before the recording starts.
        "$linux/bin/vqs-ctl" watch --mqtt "$url" --json --count 3 --duration 5m \
            >"$mqtt/watch.jsonl" 2>"$mqtt/watch.err" &
        watch_pid=$!
        pids+=("$watch_pid")
        wait_for 30 grep -q "watching $url: connected" "$mqtt/watch.err" || true
        rec_mqtt="$profile/Documents/rec-mqtt"
        mkdir -p "$rec_mqtt"
        mqtt_rec_ok=true
        timeout 120 "$WINE" "$ctl" record COM5 --uart --cycles 3 --dir "$(winpath_w "$rec_mqtt")" --mqtt "$url" \
            >"$mqtt/record-win.txt" 2>&1 || mqtt_rec_ok=false
        check "vqs-ctl.exe recorded three cycles with --mqtt $url" $mqtt_rec_ok
        check "vqs-ctl.exe told it was publishing" grep -q "publishing to $url: connected" "$mqtt/record-win.txt"
        # The watcher ends by itself at its third cycle.
        wait_for 30 ended "$watch_pid" || kill "$watch_pid" 2>/dev/null || true
        wait "$watch_pid" 2>/dev/null || true
        check "the Linux vqs-ctl watch got cycles 1, 2 and 3 of VQS-WIN-UART from the Windows build" \
            watched_cycles "$mqtt/watch.jsonl" VQS-WIN-UART
    fi
fi

# --- 4. the program's page --------------------------------------------------------------------
echo "== program page"
# Unpacked on the user's desktop: the page's run files and log live beside it.
unpacked="$profile/Desktop"
# A fresh copy each time, so an earlier check's run files and log cannot count.
rm -rf "${unpacked:?}/$name"
unzip -q "$zip_file" -d "$unpacked"
cp "$page_check" "$unpacked/$name/"
shot="$out/page-running.png"
if timeout 180 "$WINE" "$unpacked/$name/vqs-page-check.exe" COM9:uart --cycles 3 --shot "$(winpath_w "$shot")" \
    >"$out/page-check.txt" 2>&1; then
    ok "page found the sensor on COM9, started, recorded and stopped"
else
    fail "page run on COM9"
fi
tr -d '\0' <"$out/page-check.txt" | grep -a 'page-check' | sed 's/^/     /' || true
page_csv="$(ls "$unpacked/$name"/TempData/*VQS-WIN-PAGE*/vqsData.csv 2>/dev/null | head -n1 || true)"
check "page's run file holds rows ($(($(wc -l <"${page_csv:-/dev/null}") - 1)) after the header)" \
    test "$(wc -l <"${page_csv:-/dev/null}")" -ge 3
decimal_rows() {  # every row after the header: seven columns, '.' decimals
    [ -s "$1" ] && ! tail -n +2 "$1" | tr -d '\r' |
        grep -qvE '^[0-9]+\.[0-9]{6}, -?[0-9]+, (-?[0-9]+\.[0-9]{6}, ){3}[0-9]+, -?[0-9]+\.[0-9]{6}$'
}
check "page's rows: seven columns, '.' decimals" decimal_rows "${page_csv:-/dev/null}"
page_run="$(dirname "${page_csv:-/dev/null}")"
check "page's time log and enciphered files beside its table" \
    test -s "$page_run/timelog.txt" -a -s "$page_run/enc/vqsData.enc" -a -s "$page_run/enc/testInfo.enc"
page_log="$(ls "$unpacked/$name"/log/log_*.txt 2>/dev/null | head -n1 || true)"
check "page's log written beside it" grep -q "Info: VQS Sensor Interface $version started" "${page_log:-/dev/null}"

# --- 5. the flasher -------------------------------------------------------------------------
echo "== stm32flash.exe"
"$WINE" "$ctl" firmware COM4 "$(winpath_w "$image")" --uart >"$out/firmware.txt" 2>&1 || true
tr '\r' '\n' <"$out/firmware.txt" | grep -v '^$' | tail -n 3 | sed 's/^/     /'
check "upgrade ran the flasher to 100%" grep -q "100%" "$out/firmware.txt"
kill "$flash_pid" 2>/dev/null || true
wait "$flash_pid" 2>/dev/null || true
check "image written into the simulated bootloader at 0x08001800" \
    bash -c "cmp -s <(tail -c +$((0x1800 + 1)) '$out/flash-out.bin' | head -c $(stat -c %s "$image")) '$image'"

# --- uninstall --------------------------------------------------------------------------------
echo "== uninstaller"
"$WINE" "$instdir/uninstall.exe" /S >/dev/null 2>&1 || true
# The uninstaller runs from a copy of itself and returns at once.
gone() { [ ! -e "$instdir/vqs-sensor-interface.exe" ] && [ ! -e "$instdir/uninstall.exe" ] && [ ! -d "$instdir/platforms" ]; }
check "uninstaller removed the program files" wait_for 60 gone
left="$(cd "$instdir" 2>/dev/null && find . -mindepth 1 -maxdepth 1 | sort | tr '\n' ' ' || true)"
check "only the working directories stay (${left:-nothing})" bash -c "! (cd '$instdir' 2>/dev/null && find . -type f | grep -vE '^\./(TempData|enc|log)/' | grep -q .)"
check "Start-menu entry removed" test ! -e "$startmenu"
check "uninstall key removed" bash -c "! '$WINE' reg query '$uninstall_key' >/dev/null 2>&1"

echo
if [ $failures -eq 0 ]; then
    echo "windows-check: all checks passed"
else
    echo "windows-check: $failures checks FAILED (details in $out)"
fi
exit $((failures > 0))
