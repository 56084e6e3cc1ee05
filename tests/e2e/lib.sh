# Helpers of the end-to-end tests: each test runs the real binaries in a temporary folder.
set -u

failures=0
checks=0
skip_notes=()
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

# The files below a folder with their permission bits, as one line: "path mode path mode ...".
modes_of() {
  (cd "$1" && find . -type f -printf '%P %m\n' | LC_ALL=C sort | tr '\n' ' ')
}

# Runs a command as an unprivileged user, so that file permissions apply.
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
}

# skip_checks N REASON: N checks that cannot run here; finish says how many and why.
skip_checks() {
  skip_notes+=("$1 skipped: $2")
}

finish() {
  echo "$((checks - failures)) passed, $failures failed"
  local note
  for note in "${skip_notes[@]}"; do echo "$note"; done
  [ "$failures" -eq 0 ]
}

# The reference archives, written by another writer, live beside the project. Only the checks
# that we read someone else's archives need them; everything else runs on archives of our own.
have_vectors() {
  [ -f "$1/plain.aze" ] && [ -f "$1/encrypted.aze" ] && [ -f "$1/expected-tree.txt" ]
}
no_vectors_reason() {
  echo "no reference archives of another writer in $1"
}

# make_sample_archives AZE: writes plain.aze and encrypted.aze (password Secret1) into the
# current folder with AZE, from a tree shaped like the reference archives' (a read-only
# README.txt and a 70,000-byte tool.bin at the top, then an empty file, a file two folders down,
# names outside ASCII and an empty folder: 4 folders, 5 files, 93,915 bytes). Sets $sample (the
# tree), $expected (its describe_tree), $readme_md5 and $tool_md5.
make_sample_archives() {
  local aze=$1
  sample=$work/sample-tree
  mkdir -p "$sample/docs/notes" "$sample/données" "$sample/empty folder"
  printf 'Read this first\n' >"$sample/README.txt"
  head -c 70000 /dev/urandom >"$sample/tool.bin"
  : >"$sample/docs/empty.txt"
  seq 1 100000 | head -c 23893 >"$sample/docs/notes/numbers.txt"
  printf 'nihon\n' >"$sample/données/日本.txt"
  chmod 444 "$sample/README.txt"
  printf 'Secret1\n' >"$work/sample-password"
  "$aze" create -o plain.aze "$sample" >/dev/null &&
    "$aze" create -o encrypted.aze --password-file "$work/sample-password" "$sample" >/dev/null ||
    fail "aze create of the sample archives"
  expected=$(describe_tree "$sample")
  readme_md5=$(md5sum <"$sample/README.txt" | cut -d' ' -f1)
  tool_md5=$(md5sum <"$sample/tool.bin" | cut -d' ' -f1)
}
