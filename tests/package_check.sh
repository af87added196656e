#!/usr/bin/env bash
# Builds the Debian package from a finished build tree and checks what it installs and what it
# asks the system for, and what desktop-file-validate and lintian say of it where they are
# installed. Usage: package_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)

fail=0
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/tallyconf ./usr/bin/unit-simulator ./usr/bin/tallyctl \
            ./usr/share/man/man1/{tallyconf,unit-simulator,tallyctl}.1.gz \
            ./usr/share/bash-completion/completions/tallyctl \
            ./usr/share/doc/tallyconf/copyright ./usr/share/doc/tallyconf/changelog.gz \
            ./usr/share/applications/tallyconf.desktop \
            ./usr/share/icons/hicolor/scalable/apps/tallyconf.svg; do
    grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; fail=1; }
done
for size in 16 24 32 48 64 128 256; do
    path=./usr/share/icons/hicolor/${size}x${size}/apps/tallyconf.png
    grep -qx "$path" <<<"$contents" || { echo "missing from the package: $path"; fail=1; }
done
if grep -q -e '/tests\?/' -e 'tst_' -e 'bench' <<<"$contents"; then
    echo "test or benchmark files in the package:"; grep -e 'tst_' -e 'bench' <<<"$contents"; fail=1
fi

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5serialport5 libc6; do
    grep -q "\b$library\b" <<<"$depends" || { echo "Depends lacks $library: $depends"; fail=1; }
done

root="$out/root"
dpkg-deb -x "$deb" "$root"
entry="$root/usr/share/applications/tallyconf.desktop"
grep -qx 'Name\[ru\]=Конфигуратор БМКС' "$entry" || { echo "no Russian name in the desktop entry"; fail=1; }
grep -qx 'Exec=tallyconf' "$entry" || { echo "desktop entry does not start tallyconf"; fail=1; }
if command -v desktop-file-validate >/dev/null; then
    if ! report=$(desktop-file-validate "$entry" 2>&1) || [ -n "$report" ]; then
        echo "$report"; fail=1
    fi
fi

version=$(dpkg-deb -f "$deb" Version)
latest=$(gzip -dc "$root/usr/share/doc/tallyconf/changelog.gz" | sed -n 1p || true)
[[ $latest == "tallyconf ($version) "* ]] || { echo "changelog is not at $version: $latest"; fail=1; }

# What the packaged completion offers for a line typed up to its end, with bash-completion's
# helpers when they are installed.
completions() {
    bash -c '[ -f "$3" ] && . "$3"; . "$1"
             COMP_LINE=$2; COMP_POINT=${#2}; read -ra COMP_WORDS <<<"$2"
             [[ $2 == *" " ]] && COMP_WORDS+=("")
             COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tallyctl; echo "${COMPREPLY[*]}"' \
        bash "$root/usr/share/bash-completion/completions/tallyctl" "$1" \
        /usr/share/bash-completion/bash_completion
}
while IFS='|' read -r line expected; do
    got=$(completions "$line")
    [ "$got" = "$expected" ] || { echo "\"$line\" completes to \"$got\", not \"$expected\""; fail=1; }
done <<'LINES'
tallyctl te|test
tallyctl test |unit modem server signal
tallyctl write p --only timeouts,tok|timeouts,token
tallyctl write p --lock|--lock-timeout
LINES

if command -v lintian >/dev/null; then
    report=$(lintian --fail-on none "$deb" 2>"$out/lintian.log") || { cat "$out/lintian.log"; fail=1; }
    if grep -E '^[EW]: ' <<<"$report"; then fail=1; fi
fi

[ "$fail" -eq 0 ] && echo "package $(basename "$deb") ok: $(wc -l <<<"$contents") entries; Depends: $depends"
exit "$fail"
