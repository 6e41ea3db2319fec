#!/usr/bin/env bash
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine against the
# loopback update server, then a look at the real window under Xvfb.
#   .ci/windows.sh            build, test, screenshot
# Packages: g++-mingw-w64-x86-64 wine64 wine fonts-wine xvfb xauth imagemagick xdotool, and
# for the native update server the packages of scripts/install-deps.sh (cpp-httplib).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows
native=$root/build/windows-native
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
mkdir -p "$build"

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }

server_pid= xvfb_pid= gui_pid= trusted_authority=
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
cleanup() {
  [ -n "$gui_pid" ] && kill "$gui_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  # The run's test authority leaves the machine's trust store with the run.
  if [ -n "$trusted_authority" ]; then
    $sudo rm -f "$trusted_authority"
    $sudo update-ca-certificates --fresh >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

# One virtual display for the tests that open windows and for the look at the real window, up
# before the prefix is made: Wine's desktop process, started with the prefix, keeps the display
# it found. The X server picks a free display itself and tells us which.
rm -f "$build/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$build/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$build/display" ] && break; sleep 0.1; done
display=:$(tr -d '[:space:]' < "$build/display")
export DISPLAY=$display

# One prefix per run, made before anything needs it.
step "Wine prefix"
t0=$SECONDS
rm -rf "$WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w
wineserver -p
# Without a window manager, unmanaged windows get their caption and close faster.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
echo "prefix ready in $((SECONDS - t0)) s"

step "cross build"
# The zip trusts a key made for this run (a release gives the publisher's own); without a key
# CPack refuses to make it. The console modes below are fed definitions signed with it.
keys=$build/run-key
"$root"/scripts/make-run-key.sh "$keys"
cmake --preset windows -DFW_TRUSTED_KEYS="$keys/run.pub" >/dev/null
cmake --build --preset windows
# The zip for Windows users: the program and a short text.
(cd "$build" && rm -f FablewrightUpdate-*-windows.zip && cpack -G ZIP >/dev/null)
cmake -E tar tf "$build"/FablewrightUpdate-*-windows.zip

step "loopback update server (native)"
# Debug: GCC 12 at -O2 trips over false -Wrestrict errors in the server library.
cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_BUILD_TESTS=OFF >/dev/null
server=
if cmake --build "$native" --target fablewright-update-server >/dev/null 2>&1; then
  server=$native/tools/update-server/fablewright-update-server
fi
served=$build/served
rm -rf "$served" && mkdir -p "$served/UpDefs"
printf 'one\r\ntwo\n\r\nlast' > "$served/UpDefs/lines.txt"
: > "$served/UpDefs/empty.txt"
if [ -n "$server" ] && [ -x "$server" ]; then
  rm -f "$build/server.port" "$build/control.port" "$build/test-authority.pem"
  # The control port lets the scenario tests make servers of their own in this process, for
  # folders they name by their Windows paths inside the prefix. Their TLS certificates come
  # from an authority the server makes for this run; its key stays in that process.
  "$server" --root "$served" --port 0 --port-file "$build/server.port" \
    --control "$build/control.port" --wine-prefix "$WINEPREFIX" \
    --authority-out "$build/test-authority.pem" >"$build/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 50); do [ -s "$build/control.port" ] && break; sleep 0.1; done
  # WinInet under Wine trusts the host's store, read afresh by every program.
  if [ -s "$build/test-authority.pem" ]; then
    trusted_authority=/usr/local/share/ca-certificates/fablewright-test-run-$$.crt
    $sudo cp "$build/test-authority.pem" "$trusted_authority"
    $sudo update-ca-certificates >/dev/null
  fi
  export FW_TEST_SERVER_PORT_FILE=$build/server.port
  FW_TEST_SERVER_CONTROL_PORT=$(cat "$build/control.port" 2>/dev/null || true)
  [ -n "$FW_TEST_SERVER_CONTROL_PORT" ] && export FW_TEST_SERVER_CONTROL_PORT
  echo "serving $served on port $(cat "$build/server.port"), control port $FW_TEST_SERVER_CONTROL_PORT"
else
  echo "no native update server: the WinInet cases and the scenarios against it will skip"
fi

step "tests under Wine"
t0=$SECONDS
# Wine now and then fails to start a program at all (exit 1, no output), which ctest reports as
# an error listing the tests; a second attempt tells that apart from a real failure.
if ! ctest --preset windows -j2; then
  echo "ctest under Wine failed; trying once more to rule out a Wine start-up failure"
  ctest --preset windows -j2
fi
echo "ctest under Wine took $((SECONDS - t0)) s"

step "GUI smoke test"
t0=$SECONDS
install=$build/smoke-install
rm -rf "$install" && mkdir -p "$install"
: > "$install/Fablewright.exe"
printf '[Configuration]\r\nGameSystem=Sci Fi\r\n' > "$install/scifi.gsi"
wine reg add 'HKCU\Software\Corvallen\Fablewright\InstallDir' /ve /t REG_SZ \
  /d "$(winepath -w "$install")" /f >/dev/null
wine "$build/FablewrightUpdate.exe" >/dev/null 2>&1 &
gui_pid=$!
window=
for _ in $(seq 100); do
  window=$(xdotool search --name 'Fablewright Update Downloader' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the main dialog did not appear" >&2; exit 1; }
sleep 1
# Kept in the build folder; docs/screenshots holds the copy the README shows.
import -display "$display" -window root "$build/win32-main-dialog.png"
convert "$build/win32-main-dialog.png" -trim +repage "$build/win32-main-dialog.png"
# Exit: the dialog's own button ends the program.
eval "$(xdotool getwindowgeometry --shell "$window")"
exit_x=$((X + WIDTH * 370 / 550)) exit_y=$((Y + HEIGHT * 247 / 320))
xdotool mousemove "$exit_x" "$exit_y" click 1
for _ in $(seq 50); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$gui_pid" 2>/dev/null; then
  echo "Exit did not end the program" >&2
  exit 1
fi
gui_pid=
echo "GUI smoke test took $((SECONDS - t0)) s; screenshot $build/win32-main-dialog.png"
echo "FablewrightUpdate.exe: $(stat -c %s "$build/FablewrightUpdate.exe") bytes; imports:"
x86_64-w64-mingw32-objdump -p "$build/FablewrightUpdate.exe" | sed -n 's/^\tDLL Name: /  /p'

step "console modes under Wine"
# After the window: a windowed program started without a display would leave Wine's desktop
# process without one, and the window would never show.
if [ -n "$server" ] &&
   cmake --build "$native" --target fablewright-sample fablewright-publish >/dev/null 2>&1; then
  .ci/console-wine.sh "$build/FablewrightUpdate.exe" "$build/tests/test-updater.exe" "$server" \
    "$native/tools/sample-install/fablewright-sample" "$build/console" \
    "$native/tools/publish/fablewright-publish" "$keys/run.key" "$keys/passphrase"
else
  echo "no native update server: the console modes are not tried under Wine"
fi

step "nginx under Wine: kept definitions, mirrors and a continued part"
if [ -x "$native/tools/sample-install/fablewright-sample" ] &&
   [ -x "$native/tools/publish/fablewright-publish" ]; then
  .ci/nginx-wine.sh "$build/FablewrightUpdate.exe" "$build/tests/test-updater.exe" \
    "$native/tools/sample-install/fablewright-sample" "$build/nginx" \
    "$native/tools/publish/fablewright-publish" "$keys/run.key" "$keys/passphrase"
else
  echo "no native tools: nginx is not tried under Wine"
fi

step "the notifying check under Wine"
if [ -n "$server" ] && [ -x "$native/tools/sample-install/fablewright-sample" ] &&
   [ -x "$native/tools/publish/fablewright-publish" ]; then
  .ci/notify-wine.sh "$build/FablewrightUpdate.exe" "$server" \
    "$native/tools/sample-install/fablewright-sample" "$build/notify" "$build/win32-notification.png" \
    "$native/tools/publish/fablewright-publish" "$keys/run.key" "$keys/passphrase"
else
  echo "no native update server: the notifying check is not tried under Wine"
fi

step "done"
