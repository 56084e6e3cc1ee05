# Helpers of the end-to-end tests: each test runs the real binaries in a temporary folder.
set -u

failures=0
checks=0
work=$(mktemp -d /tmp/winqor-e2e.XXXXXX)
chmod 755 "$work"
trap 'chmod -R u+rwX "$work" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_status WANT DESCRIPTION -- COMMAND...: runs COMMAND, keeps its output in $out/$err.
expect_status() {
  local want=$1 what=$2
  shift 3
  checks=$((checks + 1))
  out=$("$@" 2>"$work/stderr") && status=0 || status=$?
  err=$(cat "$work/stderr")
  [ "$status" -eq "$want" ] || fail "$what: exit $status, wanted $want (stderr: $err)"
}

expect_equal() {
  checks=$((checks + 1))
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
}

expect_match() {
  checks=$((checks + 1))
  printf '%s' "$2" | grep -qE -- "$3" || fail "$1: [$2] does not match /$3/"
}

# The tree below a folder as sorted "D path" / "F path size md5" lines.
describe_tree() {
  (cd "$1" && find . -mindepth 0 | LC_ALL=C sort | while IFS= read -r p; do
    rel=${p#./}
    [ "$p" = "." ] && rel=.
    if [ -d "$p" ]; then echo "D $rel"; else echo "F $rel $(stat -c %s "$p") $(md5sum < "$p" | cut -d' ' -f1)"; fi
  done) | LC_ALL=C sort
}

# Runs a command as an unprivileged user, so that file permissions apply.
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
}

finish() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}

# The reference archives live beside the project; without them the test is skipped (77).
require_vectors() {
  [ -f "$1/plain.aze" ] && return 0
  echo "skipped: no reference archives in $1"
  exit 77
}
