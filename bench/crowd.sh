#!/usr/bin/env bash
# A crowd of quiet checks started at once, as a fleet of machines whose daily timers fire
# together would send them:
#   1. against nginx on loopback: every client must end with 10 (updates available);
#   2. against the project's update server answering "503 Retry-After: 2" to half of all
#      requests (the first ones): every client must still end with 10, and none may send more
#      than 5 requests.
# Each client asks for the definitions and sends its update request with a query of its own
# ("?client=N"), which both servers ignore when they serve the file but log, so the requests of
# each client can be counted.
#
#   bench/crowd.sh [BUILD_DIR] [CLIENTS]      (defaults: build/release, else build/dev; 200)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [ -z "$build" ]; then
  build=$here/build/release
  [ -x "$build/app/fablewright-update" ] || build=$here/build/dev
fi
clients=${2:-200}
program=$build/app/fablewright-update
server=$build/tools/update-server/fablewright-update-server
sample=$build/tools/sample-install/fablewright-sample
nginx=/usr/sbin/nginx
for tool in "$program" "$server" "$sample" "$nginx"; do
  [ -x "$tool" ] || { echo "crowd.sh: $tool is missing (build the project; apt-get install nginx-light)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$sample" --out "$work" >/dev/null
export FABLEWRIGHT_REGISTRY=$work/registry.reg
export XDG_CACHE_HOME=$work/cache
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
unset DISPLAY
defs=FablewrightUpdates.txt

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Starts every client at once; prints "exit code count" lines and the wall time.
run_crowd() {  # host label
  local host=$1 label=$2 out=$work/$2
  mkdir -p "$out"
  local start end
  start=$(date +%s.%N)
  local i crowd=()
  for i in $(seq "$clients"); do
    ( rc=0
      "$program" -quietcheck -server "$host" -infoserver "$host" -updates "$defs?client=$i" \
        -infourl "vrn/sendupdinfo.php?client=$i" \
        >"$out/$i.out" 2>"$out/$i.err" || rc=$?
      echo "$rc" >"$out/$i.rc" ) &
    crowd+=($!)
  done
  wait "${crowd[@]}"
  end=$(date +%s.%N)
  local ok
  ok=$(grep -lx 10 "$out"/*.rc | wc -l)
  printf '%s: %d clients, %d ended with 10, in %s s\n' "$label" "$clients" "$ok" \
    "$(python3 -c "print(f'{$end - $start:.2f}')")"
  sort "$out"/*.rc | uniq -c | sed 's/^/  exit codes: /'
  [ "$ok" -eq "$clients" ] || { echo "crowd.sh: $label: not every client ended with 10" >&2
                                head -3 "$out"/1.err >&2; return 1; }
}

# 1. nginx, as people serve updates.
port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $work/nginx/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  log_format counted '\$request_uri \$status \$body_bytes_sent';
  access_log $work/nginx/access.log counted;
  client_body_temp_path $work/nginx/client_body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server { listen 127.0.0.1:$port; root $work/server; }
}
EOF
"$nginx" -p "$work/nginx/" -c "$work/nginx/nginx.conf" &
pids+=($!)
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
run_crowd "127.0.0.1:$port" nginx
echo "  nginx answered $(grep -c "^/UpDefs/$defs" "$work/nginx/access.log") definitions requests"

# 2. Half of all requests turned away with 503 and Retry-After: 2. A client sends two requests
# when all goes well (the definitions and the update request), so turning away the first
# 2 x CLIENTS definitions requests is half of all that a crowd that waits as asked sends.
busy=$((clients * 2))
"$server" --root "$work/server" --port 0 --port-file "$work/port" --log "$work/requests.log" \
  --fault "/UpDefs/$defs:status=503,retry-after=2,first=$busy" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
run_crowd "127.0.0.1:$(cat "$work/port")" busy
python3 - "$work/requests.log" "$clients" <<'PY'
import collections, json, re, sys
per_client = collections.Counter()
definitions = collections.Counter()
total = 0
for line in open(sys.argv[1]):
    request = json.loads(line)
    total += 1
    m = re.search(r"[?&]client=(\d+)", request["target"])
    if m:
        per_client[m.group(1)] += 1
        if "/UpDefs/" in request["target"]:
            definitions[m.group(1)] += 1
clients = int(sys.argv[2])
most = max(per_client.values())
print(f"  {total} requests, {sum(definitions.values())} of them for the definitions")
print("  definitions requests per client: " +
      ", ".join(f"{n} for {c} clients" for n, c in sorted(collections.Counter(definitions.values()).items())))
print(f"  most requests sent by one client: {most}")
if len(per_client) != clients or most > 5:
    sys.exit("crowd.sh: a client sent more than 5 requests, or none")
PY
