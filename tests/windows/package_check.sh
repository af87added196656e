#!/usr/bin/env bash
# The Windows packages, tried under Wine in a fresh Wine prefix and a virtual X display of their
# own. The zip: every DLL its programs and plugins import is in it or in Windows itself, and
# tallyctl.exe, unit-simulator.exe and the window run from a folder that holds nothing but the
# unpacked files. The installer: a silent install (/S /PATH) puts the programs in place, its
# Start-menu entry starts the window in the per-user folder, where "Сохранить параметры" saves
# tallyconf.ini, tallyctl answers from PATH in cmd.exe, and the silent uninstall leaves nothing
# behind but that file. Each program carries its icon, version and manifest, the engineer's guide
# is in both packages and in the Start menu; while the window runs from the installed folder
# neither the installer nor the uninstaller changes anything there (exit 2), a copy elsewhere
# does not stop them, and a file held open stops an upgrade; a /D= in quotes, which NSIS
# ignores, ends the installer (exit 2).
# Usage: package_check.sh BUILD_DIR WINE OBJDUMP
set -euo pipefail
if [ "${4:-}" != --inside-display ]; then
    exec xvfb-run -a -s "-screen 0 1024x900x24" bash "$0" "$1" "$2" "$3" --inside-display
fi
build=$(cd "$1" && pwd)
wine=$2
objdump=$3
work=$(mktemp -d)
# Wine's server keeps its socket in a folder under TMPDIR and leaves it: here it goes with $work.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d TMPDIR=$work
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
cleanup() {
    # Ends every program still running in this prefix, and only those.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
address=127.0.0.13
title="Конфигуратор БМКС"

fail=0
problem() {
    echo "$*"
    fail=1
}

# Waits up to ten seconds for a command to succeed.
wait_for() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The window of the configurator on the display; empty if none shows within 20 s.
configurator_window() {
    timeout 20 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -n1 || true
}

close_window() {
    local pid
    pid=$(xdotool getwindowpid "$1" 2>/dev/null || true)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    wait_for eval '! xdotool search --onlyvisible --name "$title" >/dev/null 2>&1' || true
}

mkdir -p "$work/packages" "$work/run"
(cd "$build" && cpack -G ZIP -B "$work/packages" > "$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log"; exit 1; }
cmake --build "$build" --target installer > "$work/installer.log" 2>&1 \
    || { cat "$work/installer.log"; exit 1; }
zip=$(ls "$work"/packages/tallyconf-*-win64.zip)
setup=$(ls "$build"/tallyconf-*-win64-setup.exe)
version=$(basename "$zip" | sed 's/^tallyconf-\(.*\)-win64\.zip$/\1/')
"$wine" wineboot -i > /dev/null 2>&1
system32=$WINEPREFIX/drive_c/windows/system32

# ---- The zip ----
mkdir -p "$work/zip"
(cd "$work/zip" && unzip -q "$zip")
folder=$work/zip/tallyconf-$version-win64

present=$( (ls "$folder"; ls "$system32") | tr '[:upper:]' '[:lower:]')
while IFS= read -r -d '' binary; do
    for dll in $("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
        if ! grep -qxF "$(tr '[:upper:]' '[:lower:]' <<<"$dll")" <<<"$present"; then
            problem "${binary#"$folder"/} needs $dll, which is neither in the zip nor in Windows"
        fi
    done
done < <(find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -print0)

# Each program's resources: the window's icon, the version information of this version, the
# manifest with its per-monitor DPI awareness.
windres=${objdump%objdump}windres
for program in tallyconf tallyctl unit-simulator; do
    "$windres" -i "$folder/$program.exe" -O rc > "$work/$program.rc" 2>&1 || true
    for want in '/\* Type: icon' '/\* Type: group icon' '/\* Type: version' '/\* RT_MANIFEST \*/' \
                "VALUE \"ProductVersion\", \"$version\"" "VALUE \"FileVersion\", \"$version\"" \
                "VALUE \"OriginalFilename\", \"$program.exe\"" 'MIT License' \
                '<dpiAwareness xmlns=.*>PerMonitor</dpiAwareness>'; do
        grep -q -- "$want" "$work/$program.rc" \
            || problem "$program.exe from the zip lacks $want in its resources"
    done
done
grep -q 'Руководство сервисного инженера' "$folder/GUIDE.txt" 2>/dev/null \
    || problem "the zip has no GUIDE.txt with the engineer's guide"

cd "$work/run"
said=$("$wine" "$folder/tallyctl.exe" --version 2>&1 || true)
[ "$said" = "tallyctl $version" ] || problem "tallyctl.exe --version from the zip said: $said"

"$wine" "$folder/unit-simulator.exe" --listen "$address:0" > simulator.out 2>&1 &
simulator=$!
# Its first line names the port, once the program is up: the first program of a fresh prefix
# can take many seconds to start while the suite's other programs load the machine, so the wait
# is for that line (or for the program to end), up to a minute.
for _ in $(seq 600); do
    grep -q '^listening on ' simulator.out && break
    kill -0 "$simulator" 2>/dev/null || break
    sleep 0.1
done
if grep -q '^listening on ' simulator.out; then
    port=$(tr -d '\r' < simulator.out | sed -n 's/^listening on .*:\([0-9]*\)$/\1/p')
    "$wine" "$folder/tallyctl.exe" read --host "$address:$port" > read.out 2>&1 || true
    head -n1 read.out | grep -qx 'FullTimeout=1000' \
        || problem "tallyctl.exe from the zip did not read unit-simulator.exe from the zip: $(cat read.out)"
else
    problem "unit-simulator.exe from the zip did not start: $(cat simulator.out)"
fi
# It runs on during the first install: a program of another folder is no reason to stop.

status=0
"$wine" "$folder/unit-simulator.exe" --listen "$address:0" --pty > pty.out 2>&1 || status=$?
[ "$status" = 2 ] && grep -q 'pseudo-terminals are available on Linux only' pty.out \
    || problem "unit-simulator.exe --pty should say it is Linux only: exit $status, $(cat pty.out)"

"$wine" "$folder/tallyconf.exe" > window.out 2>&1 &
window=$(configurator_window)
[ -n "$window" ] || problem "tallyconf.exe from the zip showed no window: $(cat window.out)"
[ -n "$window" ] && close_window "$window"

# ---- The installer ----
user=$(id -un)
home=$WINEPREFIX/drive_c/users/$user
install=$home/AppData/Local/Programs/tallyconf
menu="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/tallyconf"
settings=$home/AppData/Roaming/tallyconf
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tallyconf'
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path "./users/$user/Temp" -prune \
        -o -print | sort)
}
snapshot > before.txt
path_before=$("$wine" reg query 'HKCU\Environment' /v Path 2>/dev/null | tr -d '\r' | grep -i ' Path ' || true)

status=0
"$wine" "$setup" /S '/D=C:\tally conf' || status=$?
[ "$status" = 2 ] || problem "a quoted /D= should end the installer with exit 2, not $status"
[ ! -e "$install" ] && [ ! -e "$WINEPREFIX/drive_c/tally conf" ] \
    || problem "the installer with a quoted /D= installed something"

"$wine" "$setup" /S /PATH || problem "the silent install failed"
kill "$simulator" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
for file in tallyconf.exe tallyctl.exe unit-simulator.exe uninstall.exe Qt5Core.dll \
            platforms/qwindows.dll LICENSE.txt GUIDE.txt; do
    [ -f "$install/$file" ] || problem "the installer did not install $file"
done
[ -f "$menu/tallyconf.lnk" ] || problem "no Start-menu entry for the window"
strings -el "$menu/tallyconf.lnk" | grep -qF "C:\\users\\$user\\AppData\\Roaming\\tallyconf" \
    || problem "the Start-menu entry does not start the window in %APPDATA%\\tallyconf"
guide_link=false
for link in "$menu"/*.lnk; do
    { strings -a "$link"; strings -el "$link"; } | grep -F 'GUIDE.txt' > /dev/null && guide_link=true
done
$guide_link || problem "no Start-menu entry for GUIDE.txt"

# A file another program keeps open (cmd.exe writing into LICENSE.txt until it reads a line)
# stops an upgrade with exit 2; it is never skipped.
mkfifo "$work/hold"
"$wine" cmd /c "set /p line= > C:\\users\\$user\\AppData\\Local\\Programs\\tallyconf\\LICENSE.txt" \
    < "$work/hold" > /dev/null 2>&1 &
holder=$!
exec 8> "$work/hold"
if wait_for eval '! grep -q "MIT License" "$install/LICENSE.txt"'; then
    status=0
    "$wine" "$setup" /S || status=$?
    [ "$status" = 2 ] || problem "the installer over a file held open ended with $status, not 2"
else
    problem "cmd.exe did not open LICENSE.txt to hold it"
fi
echo >&8
exec 8>&-
wait "$holder" 2>/dev/null || true

said=$("$wine" cmd /c "tallyctl --version" 2>&1 | tr -d '\r' || true)
[ "$said" = "tallyctl $version" ] || problem "tallyctl from PATH in cmd.exe said: $said"

# The window as the Start menu starts it; "Сохранить параметры" where the form shows it.
read -r _ _ x y width height < <(cd "$work/run" && "$wine" "$build/bin/tallyconf-widget-geometry.exe" \
    pushButton_saveDefault | tr -d '\r')
"$wine" start /unix "$menu/tallyconf.lnk"
window=$(configurator_window)
if [ -n "$window" ]; then
    sleep 0.5
    xdotool mousemove --window "$window" $((x + width / 2)) $((y + height / 2)) click 1
    # Saved means written and its lock let go: the save takes the lock twice (Qt's write, then
    # the rewrite into Qt 5's form), and a window closed in between would leave the lock.
    wait_for eval 'test -s "$settings/tallyconf.ini" && test ! -e "$settings/tallyconf.ini.lock"' \
        || problem "\"Сохранить параметры\" saved nothing in %APPDATA%\\tallyconf"
    [ "$(head -n1 "$settings/tallyconf.ini" 2>/dev/null)" = $'[General]\r' ] \
        || problem "tallyconf.ini does not start with [General] and CR LF"

    # While it runs, an upgrade and an uninstall change nothing and end with exit 2. The
    # uninstaller gives its exit code when it runs in place (_?=), not from its copy in Temp.
    installed() { (cd "$install" && find . -printf '%p %s %T@\n' | sort; ls "$menu"); }
    installed > installed-before.txt
    status=0
    "$wine" "$setup" /S || status=$?
    [ "$status" = 2 ] || problem "the installer over the running window ended with $status, not 2"
    status=0
    "$wine" "$install/uninstall.exe" /S "_?=C:\\users\\$user\\AppData\\Local\\Programs\\tallyconf" \
        || status=$?
    [ "$status" = 2 ] || problem "the uninstaller beside the running window ended with $status, not 2"
    installed > installed-after.txt
    cmp -s installed-before.txt installed-after.txt \
        || problem "the installer or the uninstaller changed the folder of the running window:
$(diff installed-before.txt installed-after.txt)"
    "$wine" reg query "$uninstall_key" > /dev/null 2>&1 \
        || problem "the uninstaller beside the running window took its entry away"
    close_window "$window"
else
    problem "the Start-menu entry showed no window"
fi

"$wine" "$install/uninstall.exe" /S || problem "the silent uninstall failed"
# The uninstaller goes on from a copy of itself in Temp.
wait_for test ! -e "$install" || problem "the uninstaller left $install"
wait_for test ! -e "$menu" || problem "the uninstaller left the Start-menu folder"
"$wine" reg query "$uninstall_key" > /dev/null 2>&1 && problem "the uninstaller left $uninstall_key"
"$wine" reg query 'HKCU\Software\tallyconf' > /dev/null 2>&1 && problem "the uninstaller left HKCU\\Software\\tallyconf"
path_after=$("$wine" reg query 'HKCU\Environment' /v Path 2>/dev/null | tr -d '\r' | grep -i ' Path ' || true)
[ "$path_after" = "$path_before" ] || problem "PATH was \"$path_before\" and is \"$path_after\" after the uninstall"
snapshot > after.txt
left=$(comm -13 before.txt after.txt)
expected=$(printf './users/%s/AppData/Roaming/tallyconf\n./users/%s/AppData/Roaming/tallyconf/tallyconf.ini' "$user" "$user")
[ "$left" = "$expected" ] || problem "after the uninstall the prefix holds, besides what it held before:
$left
(only the user's tallyconf.ini should be left)"
exit $fail
