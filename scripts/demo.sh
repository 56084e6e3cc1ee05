#!/usr/bin/env bash
# The demo: installs what is missing, builds, packs a sample folder into a self-extracting
# program whose Setup.exe is a script, runs that program from another folder, and shows the
# tree it extracted and what Setup.exe printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/release -j"$(nproc)" > /dev/null
aze=$(readlink -f build/release/bin/aze)

demo=$(mktemp -d /tmp/winqor-demo.XXXXXX)
mkdir -p "$demo/sample/docs" "$demo/sample/data/images" "$demo/elsewhere"
printf 'Thank you for installing the sample.\n' > "$demo/sample/README.txt"
printf 'Version 1.0: first release.\n' > "$demo/sample/docs/CHANGES.txt"
head -c 200000 /usr/bin/bash > "$demo/sample/data/program.bin"
printf 'pretend this is a picture\n' > "$demo/sample/data/images/logo.txt"
cat > "$demo/sample/Setup.exe" <<'SETUP'
#!/bin/sh
echo "Setup.exe is running in $(pwd)"
echo "it found:"
find . -type f | sort | sed 's/^/  /'
echo "DEMO_GREETING=${DEMO_GREETING:-unset}"
SETUP
chmod +x "$demo/sample/Setup.exe"

echo "== packing $demo/sample into a self-extracting program"
"$aze" sfx --run-setup -o "$demo/sample-installer.run" "$demo/sample"
ls -l "$demo/sample-installer.run"

echo
echo "== running it from another folder (it unpacks next to itself and starts Setup.exe)"
(cd "$demo/elsewhere" && DEMO_GREETING="hello from the environment" "$demo/sample-installer.run")

echo
echo "== the extracted tree: $demo/sample-installer"
(cd "$demo/sample-installer" && find . | sort)
echo
echo "== aze test of the program itself"
"$aze" test "$demo/sample-installer.run"
echo
echo "Everything is in $demo"
