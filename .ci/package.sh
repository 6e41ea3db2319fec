#!/usr/bin/env bash
# The Debian package: made by CPack, checked by lintian and desktop-file-validate, installed
# with apt-get, its program run in both console modes against the loopback update server, and
# removed again. Needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/package
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }
fail() { echo "package: $*" >&2; exit 1; }

./scripts/install-deps.sh

step "build and package"
# A package trusts its publisher's key; this run's package trusts a key made for the run (a
# release gives the publisher's own). Without one CPack refuses to make the package.
keys=$build/run-key
"$root"/scripts/make-run-key.sh "$keys"
# A release build of the program and the tools, hardened as Debian builds its own packages.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_TESTS=OFF \
  -DFW_TRUSTED_KEYS="$keys/run.pub" \
  -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
cmake --build "$build"
rm -f "$build"/fablewright-update_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/fablewright-update_*.deb)
echo "$deb: $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Depends
listing=$(dpkg-deb -c "$deb")
for f in usr/bin/fablewright-update usr/share/man/man1/fablewright-update.1.gz \
         usr/share/applications/fablewright-update.desktop \
         usr/share/icons/hicolor/48x48/apps/fablewright-update.png \
         usr/share/doc/fablewright-update/copyright \
         usr/lib/systemd/user/fablewright-update.service usr/lib/systemd/user/fablewright-update.timer; do
  grep -q " \./$f\$" <<<"$listing" || fail "the package lacks /$f"
done

step "lintian and desktop-file-validate"
report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian reports errors: $report"
grep -v 'running with root privileges' <<<"$report" || true
desktop-file-validate "$root/res/packaging/fablewright-update.desktop"

step "install"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -qq "$deb" >/dev/null
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  $sudo apt-get remove -y -qq fablewright-update >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
program=/usr/bin/fablewright-update
[ -x "$program" ] || fail "$program is not installed"

step "the installed program in its console modes"
"$build/tools/sample-install/fablewright-sample" --out "$work" --digests
for defs in "$work"/server/UpDefs/*.txt; do
  "$build/tools/publish/fablewright-publish" sign --key "$keys/run.key" \
    --passphrase-file "$keys/passphrase" "$defs" >/dev/null
done
"$build/tools/update-server/fablewright-update-server" --root "$work/server" --port 0 \
  --port-file "$work/port" --log "$work/requests.log" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
host=127.0.0.1:$(cat "$work/port")
export FABLEWRIGHT_REGISTRY=$work/registry.reg
unset DISPLAY

rc=0
"$program" -quietcheck -server "$host" -infoserver "$host" >"$work/check.out" 2>"$work/check.err" ||
  rc=$?
[ "$rc" -eq 10 ] || fail "-quietcheck ended with $rc, not 10: $(cat "$work/check.err")"
[ "$(cat "$work/check.out")" = $'Fablewright\nFantasy\nWestern\nHorror' ] ||
  fail "-quietcheck printed: $(cat "$work/check.out")"
grep -q sendupdinfo "$work/requests.log" || fail "-quietcheck sent no update request"
echo "-quietcheck: exit 10, templates $(paste -sd, "$work/check.out")"

rc=0
"$program" -unattended -server "$host" -infoserver "$host" >"$work/run.out" 2>"$work/run.err" ||
  rc=$?
[ "$rc" -eq 0 ] || fail "-unattended ended with $rc, not 0: $(cat "$work/run.err")"
[ ! -s "$work/run.err" ] || fail "-unattended wrote errors: $(cat "$work/run.err")"
ran=$(sed -n 's/^updater \(.*\) ran at .*/\1/p' "$work/updaters.log" | paste -sd,)
[ "$ran" = "Fablewright,Fantasy,Western,Horror" ] || fail "the updaters ran as: $ran"
[ "$(grep -c 'FABLEWRIGHTAUTOINSTALL=TRUE' "$work/updaters.log")" -eq 4 ] ||
  fail "an updater ran without FABLEWRIGHTAUTOINSTALL=TRUE: $(cat "$work/updaters.log")"
[ "$(grep -c 'InstallFlags=$' "$work/updaters.log")" -eq 4 ] || fail "InstallFlags was not empty"
[ -z "$(ls -A "$work/Fablewright/temp")" ] || fail "the temp folder was not emptied"
echo "-unattended: exit 0, updaters $ran, temp folder empty"

step "the daily check's systemd user units"
units=/usr/lib/systemd/user
[ "$(readlink "$units/timers.target.wants/fablewright-update.timer")" = ../fablewright-update.timer ] ||
  fail "the timer is not enabled for every user"
mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR=$work/runtime systemd-analyze verify --user \
  "$units/fablewright-update.service" "$units/fablewright-update.timer" ||
  fail "systemd-analyze verify refuses the units"
echo "units verified: $(cd "$units" && ls fablewright-update.* | paste -sd' ')"

step "remove and purge"
$sudo apt-get purge -y -qq fablewright-update >/dev/null
[ ! -e "$program" ] || fail "$program is still there after removal"
for f in "$units/fablewright-update.service" "$units/fablewright-update.timer" \
         "$units/timers.target.wants/fablewright-update.timer"; do
  [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is still there after purge"
done
step "done"
