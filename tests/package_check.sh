#!/usr/bin/env bash
# Builds the Debian package from a finished build tree and checks what it installs and what it
# asks the system for. Usage: package_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)

fail=0
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/tallyconf ./usr/bin/unit-simulator \
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

desktop=$(mktemp -d)
dpkg-deb -x "$deb" "$desktop"
entry="$desktop/usr/share/applications/tallyconf.desktop"
grep -qx 'Name\[ru\]=Конфигуратор БМКС' "$entry" || { echo "no Russian name in the desktop entry"; fail=1; }
grep -qx 'Exec=tallyconf' "$entry" || { echo "desktop entry does not start tallyconf"; fail=1; }
rm -rf "$desktop"

[ "$fail" -eq 0 ] && echo "package $(basename "$deb") ok: $(wc -l <<<"$contents") entries; Depends: $depends"
exit "$fail"
