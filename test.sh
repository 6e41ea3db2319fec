#!/usr/bin/env bash
# Installs what the build needs, builds, and runs every test.
#   ./test.sh          everything: the native suite (debug, warnings as errors), the GTK window
#                      through a whole update under Xvfb, the Windows build with its suite under
#                      Wine, and a short run of every fuzz target
#   ./test.sh --asan   the native suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   ./test.sh --native the native suite only (quick)
set -euo pipefail
cd "$(dirname "$0")"

mode=all
case "${1:-}" in
  "") ;;
  --asan) mode=asan ;;
  --native) mode=native ;;
  *) echo "usage: $0 [--asan|--native]" >&2; exit 2 ;;
esac

if [ "$mode" = all ]; then
  ./scripts/install-deps.sh --windows
else
  ./scripts/install-deps.sh
fi

# Loopback servers must never be reached through a proxy.
export no_proxy="127.0.0.1,localhost${no_proxy:+,$no_proxy}"
export NO_PROXY="$no_proxy"

preset=dev
[ "$mode" = asan ] && preset=asan
cmake --preset "$preset"
cmake --build --preset "$preset"
# The window tests need a display; without one they get a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ctest --preset "$preset" -j2
else
  ctest --preset "$preset" -j2
fi
[ "$mode" = all ] || exit 0

echo "== the GTK window through a release and a beta update"
# A run that fails is tried once more, so that a virtual display that failed to come up is told
# apart from a program that fails: the program has to fail twice.
smoke() {
  DEMO_BUILD_DIR="$PWD/build/dev" DEMO_SCREENSHOTS="$PWD/build/dev/$1" ./demo.sh "${@:2}" ||
    DEMO_BUILD_DIR="$PWD/build/dev" DEMO_SCREENSHOTS="$PWD/build/dev/$1" ./demo.sh "${@:2}"
}
smoke gui-smoke --auto
smoke gui-smoke-beta --auto --beta
smoke gui-smoke-https --auto --https
# Signed definitions need a program that trusts the demo's key: demo.sh builds it in a folder of
# its own (build/demo-signed), never in build/dev.
echo "== the GTK window refusing an altered updater"
DEMO_SCREENSHOTS="$PWD/build/dev/gui-smoke-tampered" ./demo.sh --auto --tampered ||
  DEMO_SCREENSHOTS="$PWD/build/dev/gui-smoke-tampered" ./demo.sh --auto --tampered

echo "== a crowd of quiet checks at once, against nginx and against a busy server"
bench/crowd.sh build/dev 200

echo "== the Windows build under Wine"
.ci/windows.sh

if [ -x fuzz/run.sh ]; then
  echo "== a short run of every fuzz target"
  fuzz/run.sh --ci
fi
