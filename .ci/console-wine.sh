#!/usr/bin/env bash
# The Windows program's console modes under Wine, against a loopback update server: what they
# print must reach the caller, and their exit codes must be the documented ones.
#   .ci/console-wine.sh EXE UPDATER SERVER SAMPLE WORKDIR [PUBLISH KEY PASSPHRASE-FILE]
# EXE: FablewrightUpdate.exe; UPDATER: a Windows program to serve as the updaters (the test
# updater); SERVER, SAMPLE: the native fablewright-update-server and fablewright-sample.
# PUBLISH, KEY, PASSPHRASE-FILE: for a program built with keys, fablewright-publish and the
# private key the definitions are signed with. WINEPREFIX must name a prefix that is ready.
set -euo pipefail
exe=$1 updater=$2 server=$3 sample=$4 work=$5
publish=${6:-} key=${7:-} passphrase=${8:-}

fail() { echo "console modes under Wine: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work/Fablewright" "$work/server/UpDefs" "$work/server/files"
: > "$work/Fablewright/Fablewright.exe"
printf '[Configuration]\r\nGameSystem=Sci Fi\r\n' > "$work/Fablewright/scifi.gsi"
printf '[Configuration]\r\nGameSystem=Fantasy\r\n' > "$work/Fablewright/fantasy.gsi"
defs="version~4.2"$'\n'
for name in "Sci Fi:scifi.exe" "Fantasy:fantasy.exe"; do
  cp "$updater" "$work/server/files/${name#*:}"
  sum=$("$sample" --checksum "$work/server/files/${name#*:}")
  digest="~sha256:$(sha256sum "$updater" | cut -d' ' -f1)"
  defs+="update~${name%%:*}~files/${name#*:}~$(stat -c %s "$updater")~$sum$digest"$'\n'
done
defs+="update~Horror~files/horror.exe~10~0~sha256:$(printf '%064d' 0)"$'\n'
printf '%s' "$defs" > "$work/server/UpDefs/FablewrightUpdates.txt"
if [ -n "$publish" ]; then
  "$publish" sign --key "$key" --passphrase-file "$passphrase" \
    "$work/server/UpDefs/FablewrightUpdates.txt" >/dev/null
fi

"$server" --root "$work/server" --port 0 --port-file "$work/port" --log "$work/requests.log" \
  >"$work/server.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
host=127.0.0.1:$(cat "$work/port")
wine reg add 'HKCU\Software\Corvallen\Fablewright\InstallDir' /ve /t REG_SZ \
  /d "$(winepath -w "$work/Fablewright")" /f >/dev/null

rc=0
wine "$exe" -quietcheck -server "$host" -infoserver "$host" >"$work/check.out" 2>"$work/check.err" ||
  rc=$?
[ "$rc" -eq 10 ] || fail "-quietcheck ended with $rc, not 10: $(cat "$work/check.err")"
[ "$(tr -d '\r' < "$work/check.out")" = $'Sci Fi\nFantasy' ] ||
  fail "-quietcheck printed: $(cat "$work/check.out")"
grep -q 'sendupdinfo' "$work/requests.log" || fail "-quietcheck sent no update request"

rc=0
FW_TEST_UPDATER_LOG=$(winepath -w "$work/updaters.log") \
  wine "$exe" -unattended -server "$host" -infoserver "$host" >"$work/run.out" 2>"$work/run.err" ||
  rc=$?
[ "$rc" -eq 0 ] || fail "-unattended ended with $rc, not 0: $(cat "$work/run.err")"
grep -q 'Update complete.' "$work/run.out" || fail "-unattended printed: $(cat "$work/run.out")"
[ "$(grep -c '^FABLEWRIGHTAUTOINSTALL=TRUE' "$work/updaters.log")" -eq 2 ] ||
  fail "the updaters ran with: $(cat "$work/updaters.log")"
images=$(grep '^image=' "$work/updaters.log" | tr -d '\r' | sed 's/.*\\//' | paste -sd,)
[ "$images" = "scifi.exe,fantasy.exe" ] || fail "the updaters ran in this order: $images"
[ -z "$(ls -A "$work/Fablewright/temp")" ] || fail "the temp folder was not emptied"
echo "-quietcheck: exit 10, $(wc -l < "$work/check.out") templates; -unattended: exit 0," \
  "$(grep -c '^begin' "$work/updaters.log") updaters ran"
