# Helpers of the two package tests (package_test.sh: the cpack package; debian_source_test.sh:
# the packages that dpkg-buildpackage builds from debian/). Sourced after lib.sh.

# documented_files DOC OWNERS DOC_NAME: the files that the table of DOC (docs/packaging.md)
# gives to any of OWNERS ("aze", "winqor", "both", "windows"), one path a line, with their
# braces expanded and PACKAGE replaced by DOC_NAME (the package whose share/doc folder it is).
documented_files() {
  local doc=$1 owners=" $2 " doc_name=$3 path owner
  sed -nE 's/^\| `([^`]+)` \| ([a-z]+)[^|]*\|$/\1 \2/p' "$doc" | while read -r path owner; do
    [[ $owners == *" $owner "* ]] || continue
    path=${path//PACKAGE/$doc_name}
    # Only a plain path with braces is expanded, so that the table cannot run anything.
    if [[ $path =~ ^[-a-zA-Z0-9_./{},+]+$ ]]; then
      eval "printf '%s\n' $path"
    else
      echo "unexpandable:$path"
    fi
  done
}

# expect_documented_contents WHAT DEB OWNERS DOC_NAME: DEB holds every file that the table
# gives to OWNERS, and no other file.
expect_documented_contents() {
  local what=$1 deb=$2 owners=$3 doc_name=$4 path
  local documented held
  documented=$(documented_files "$docs_dir/packaging.md" "$owners" "$doc_name" | LC_ALL=C sort)
  held=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | LC_ALL=C sort)
  checks=$((checks + 1))
  [ "$(wc -l <<<"$documented")" -ge 5 ] || fail "docs/packaging.md lists almost nothing for $what"
  while IFS= read -r path; do
    checks=$((checks + 1))
    grep -qxF -- "$path" <<<"$held" || fail "$what does not hold $path"
  done <<<"$documented"
  expect_equal "$what holds no file that docs/packaging.md does not list" \
    "$(LC_ALL=C comm -13 <(echo "$documented") <(echo "$held"))" ""
}

# expect_lintian_clean WHAT FILE: lintian (on a .deb or a .changes) reports no error and no
# warning; its informational remarks are shown but accepted.
expect_lintian_clean() {
  local what=$1 file=$2
  expect_status 0 "lintian on $what" -- lintian --fail-on error,warning --tag-display-limit 0 "$file"
  echo "lintian on $what: ${out:-no remarks}"
  expect_equal "lintian's errors and warnings on $what" "$(grep -E '^[EW]: ' <<<"$out")" ""
}

# expect_stripped WHAT PROGRAM: no debug information and no symbol table.
expect_stripped() {
  checks=$((checks + 1))
  ! readelf -SW "$2" | grep -qE ' \.(debug_[a-z_]+|symtab) ' ||
    fail "$1 carries debug information or a symbol table"
}
