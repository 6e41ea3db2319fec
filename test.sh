#!/usr/bin/env bash
# Installs what the build needs, builds, and runs every test.
#   ./test.sh          the whole suite (debug build, warnings as errors)
#   ./test.sh --asan   the same suite under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"

preset=dev
case "${1:-}" in
  --asan) preset=asan ;;
  "") ;;
  *) echo "usage: $0 [--asan]" >&2; exit 2 ;;
esac

./scripts/install-deps.sh

# Loopback servers must never be reached through a proxy.
export no_proxy="127.0.0.1,localhost${no_proxy:+,$no_proxy}"
export NO_PROXY="$no_proxy"

cmake --preset "$preset"
cmake --build --preset "$preset"
# The window tests need a display; without one they get a virtual one.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ctest --preset "$preset" -j2
else
  ctest --preset "$preset" -j2
fi
