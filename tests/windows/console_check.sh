#!/usr/bin/env bash
# tallyctl.exe in a Windows console under Wine: its Russian messages must come out right whatever
# the console's code page (866 in a Russian cmd.exe, 1251 in some PowerShells), and the Enter of
# --series (and Ctrl+Z, Enter to end it) is read from the console. script(1) gives Wine a
# terminal, which Wine turns into the console; the terminal itself speaks UTF-8.
# Nothing listens on 127.0.0.13:1, so every unit fails to connect, with the Russian message.
# Usage: console_check.sh WINE WINEPREFIX WINDOWS_BIN
set -euo pipefail
wine=$1
export WINEPREFIX=$2
bin=$3
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d LANG=C.UTF-8 LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail=0
message="Не могу установить соединение 127.0.0.13:1"

for codepage in 866 1251; do
    # cmd.exe sets the code page, as an engineer's console has it, then runs tallyctl.
    output=$(timeout 60 script -qec "$wine cmd /c \"chcp $codepage >nul & Z:$bin/tallyctl.exe read --host 127.0.0.13:1\"" /dev/null 2>&1 || true)
    if ! grep -qF "$message" <<<"$output"; then
        echo "code page $codepage: the console did not show \"$message\":"
        cat -v <<<"$output"
        fail=1
    fi
done

# Enter for the next unit, then Ctrl+Z and Enter: two units, the end of the series. The terminal
# passes Ctrl+Z on as a character, as a Windows console does, instead of stopping the program.
printf '[General]\nEthMAC=00-1a-2b-3c-4d-ff\n' > profile.ini
output=$( (sleep 3; printf '\r'; sleep 2; printf '\032\r'; sleep 3) | timeout 60 script -qec \
    "stty -isig; $wine $bin/tallyctl.exe write profile.ini --host 127.0.0.13:1 --series --only mac; echo \"exit \$?\"" \
    /dev/null 2>&1 || true)
units=$(grep -ac "unit [0-9]: failed (exit 3: $message)" <<<"$output" || true)
if [ "$units" != 2 ] || ! grep -aq "exit 3" <<<"$output"; then
    echo "--series in the console: expected two failed units and exit 3, got:"
    cat -v <<<"$output"
    fail=1
fi
exit $fail
