#!/usr/bin/env bash
# A build that carries the test probes is never packaged: cpack stops with one line that says
# why, and writes no package.
# usage: package_refused.sh BUILD_DIR
. "$(dirname "$0")/lib.sh"
command -v cpack >/dev/null || { echo "SKIP: cpack is not installed"; exit 77; }
expect_status 1 "cpack of a build with the test probes" -- \
  cpack --config "$1/CPackConfig.cmake" -G DEB -B "$work/package"
expect_match "it says why" "$out$err" "carries the test probes \(WINQOR_TEST_SEAMS=ON\)"
[ -z "$(find "$work/package" -name '*.deb' 2>/dev/null)" ] || fail "a package was written"
finish
