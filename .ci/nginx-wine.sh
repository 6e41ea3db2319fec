#!/usr/bin/env bash
# The Windows program under Wine against nginx, the server people put updates on: definitions
# asked for again are answered 304 and the kept copy is used; with two mirrors, a file the first
# cannot serve comes from the second, and a part kept from an earlier try is continued there
# with a 206, since two nginx servers of one folder give a file the same validator.
#   .ci/nginx-wine.sh EXE UPDATER SAMPLE WORKDIR PUBLISH KEY PASSPHRASE-FILE
# EXE: FablewrightUpdate.exe; UPDATER: a Windows program to serve as the updaters; SAMPLE:
# the native fablewright-sample; PUBLISH, KEY, PASSPHRASE-FILE: fablewright-publish and the
# private key the program trusts. WINEPREFIX must name a prefix that is ready.
set -euo pipefail
exe=$1 updater=$2 sample=$3 work=$4 publish=$5 key=$6 passphrase=$7
nginx=/usr/sbin/nginx

fail() { echo "nginx under Wine: $*" >&2; exit 1; }
[ -x "$nginx" ] || { echo "nginx is not installed (nginx-light): not tried"; exit 0; }

rm -rf "$work" && mkdir -p "$work/Fablewright" "$work/server/UpDefs" "$work/server/files"
: > "$work/Fablewright/Fablewright.exe"
printf '[Configuration]\r\nGameSystem=Sci Fi\r\n' > "$work/Fablewright/scifi.gsi"
printf '[Configuration]\r\nGameSystem=Fantasy\r\n' > "$work/Fablewright/fantasy.gsi"
size=$(stat -c %s "$updater")
defs="version~4.2"$'\n'
for name in "Sci Fi:scifi.exe" "Fantasy:fantasy.exe"; do
  cp "$updater" "$work/server/files/${name#*:}"
  sum=$("$sample" --checksum "$work/server/files/${name#*:}")
  defs+="update~${name%%:*}~files/${name#*:}~$size~$sum~sha256:$(sha256sum "$updater" | cut -d' ' -f1)"$'\n'
done
printf '%s' "$defs" > "$work/server/UpDefs/FablewrightUpdates.txt"
"$publish" sign --key "$key" --passphrase-file "$passphrase" \
  "$work/server/UpDefs/FablewrightUpdates.txt" >/dev/null

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
start_nginx() {  # NAME PORT EXTRA-SERVER-LINES
  local dir=$work/nginx-$1
  mkdir -p "$dir"
  cat >"$dir/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $dir/error.log;
pid $dir/nginx.pid;
events { worker_connections 64; }
http {
  log_format counted '\$request_uri \$status \$body_bytes_sent';
  access_log $dir/access.log counted;
  client_body_temp_path $dir/client_body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server { listen 127.0.0.1:$2; root $work/server; $3 }
}
EOF
  "$nginx" -p "$dir/" -c "$dir/nginx.conf" &
  pids+=($!)
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$2") 2>/dev/null && return; sleep 0.05; done
  fail "nginx $1 did not start: $(cat "$dir/error.log")"
}
good_port=$(free_port)
start_nginx good "$good_port" ""
busy_port=$(free_port)
start_nginx busy "$busy_port" "location /files/ { return 503; }"
good=127.0.0.1:$good_port busy=127.0.0.1:$busy_port
wine reg add 'HKCU\Software\Corvallen\Fablewright\InstallDir' /ve /t REG_SZ \
  /d "$(winepath -w "$work/Fablewright")" /f >/dev/null

# Two checks of unchanged definitions: the second is answered 304, with no body.
for _ in 1 2; do
  rc=0
  wine "$exe" -quietcheck -server "$good" -infoserver "$good" >"$work/check.out" \
    2>"$work/check.err" || rc=$?
  [ "$rc" -eq 10 ] || fail "-quietcheck ended with $rc, not 10: $(cat "$work/check.err")"
done
answers=$(grep '^/UpDefs/' "$work/nginx-good/access.log" | cut -d' ' -f2,3 | paste -sd,)
case "$answers" in
  "200 "*",304 0") ;;
  *) fail "the definitions were answered: $answers" ;;
esac

# A part of the first updater kept from an earlier try, with the validator nginx gives it.
etag=$(python3 - "$good" <<'PY'
import http.client, sys
host, port = sys.argv[1].split(":")
c = http.client.HTTPConnection(host, int(port))
c.request("HEAD", "/files/scifi.exe")
print(c.getresponse().getheader("ETag"))
PY
)
half=$((size / 2))
mkdir -p "$work/Fablewright/temp"
head -c "$half" "$updater" > "$work/Fablewright/temp/scifi.exe.part"
printf 'fablewright-partial 1\n%d\n%d\n%s\n' "$size" \
  "$((16#$("$sample" --checksum "$updater")))" "$etag" > "$work/Fablewright/temp/scifi.exe.part-note"

rc=0
FW_TEST_UPDATER_LOG=$(winepath -w "$work/updaters.log") \
  wine "$exe" -unattended -server "$busy,$good" -infoserver "$good" >"$work/run.out" \
  2>"$work/run.err" || rc=$?
[ "$rc" -eq 0 ] || fail "-unattended ended with $rc, not 0: $(cat "$work/run.err")"
[ "$(grep -c '^FABLEWRIGHTAUTOINSTALL=TRUE' "$work/updaters.log")" -eq 2 ] ||
  fail "the updaters ran with: $(cat "$work/updaters.log")"
[ "$(grep -c '^/files/.* 503 ' "$work/nginx-busy/access.log")" -eq 1 ] ||
  fail "the busy mirror answered: $(cat "$work/nginx-busy/access.log")"
grep -qx "/files/scifi.exe 206 $((size - half))" "$work/nginx-good/access.log" ||
  fail "the kept part was not continued: $(cat "$work/nginx-good/access.log")"
grep -qx "/files/fantasy.exe 200 $size" "$work/nginx-good/access.log" ||
  fail "the second updater did not come from the second mirror: $(cat "$work/nginx-good/access.log")"
echo "nginx under Wine: definitions answered $answers; with two mirrors the busy one answered" \
  "503 once, the other continued the kept part ($((size - half)) of $size bytes) and sent the" \
  "second updater whole"
