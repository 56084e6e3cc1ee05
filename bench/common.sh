# Shared by the benchmarks: sample trees, timing with medians, peak memory.
set -euo pipefail

# The build folder holding bin/aze: $1, or the first that exists.
find_aze() {
  local dir
  for dir in "${1:-}" build/release build; do
    [ -n "$dir" ] && [ -x "$dir/bin/aze" ] && { readlink -f "$dir/bin/aze"; return; }
  done
  echo "build aze first (scripts/test.sh or cmake --build build)" >&2
  exit 1
}

# A ~10 MB tree: one large binary made of the system's shared libraries, plus hundreds of
# small text files in nested folders.
make_mixed_tree() {
  local root=$1
  mkdir -p "$root/bin"
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +100k 2>/dev/null |
    LC_ALL=C sort | head -n 40 | xargs cat 2>/dev/null | head -c 6000000 > "$root/bin/program" || true
  local n=0 file
  while IFS= read -r file && [ "$n" -lt 600 ]; do
    local dir="$root/docs/part$((n % 12))/sub$((n % 5))"
    mkdir -p "$dir"
    cp "$file" "$dir/$n-$(basename "$file")"
    n=$((n + 1))
  done < <(find /usr/include /usr/share/doc -type f -size -16k -size +1k 2>/dev/null | LC_ALL=C sort)
}

# A tree holding one file of $2 bytes: the system's shared libraries, then text, as in the
# mixed tree but in one piece.
make_single_file_tree() {
  local root=$1 bytes=$2
  mkdir -p "$root"
  { find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +100k 2>/dev/null |
      LC_ALL=C sort | head -n 40 | xargs cat 2>/dev/null | head -c 6000000
    find /usr/include /usr/share/doc -type f 2>/dev/null | LC_ALL=C sort | xargs cat 2>/dev/null
  } | head -c "$bytes" > "$root/one.bin" || true
}

# A tree of 2,400 small files.
make_many_files_tree() {
  local root=$1 n=0 file
  while IFS= read -r file && [ "$n" -lt 2400 ]; do
    local dir="$root/d$((n % 24))/e$((n % 7))"
    mkdir -p "$dir"
    cp "$file" "$dir/$n.txt"
    n=$((n + 1))
  done < <(find /usr/include /usr/share -type f -size -4k 2>/dev/null | LC_ALL=C sort)
}

# The benchmark's work folder, under $TMPDIR when it is set (TMPDIR=/dev/shm measures the
# programs without the disk). Runs write into folders of their own and everything is removed
# only at the end (about 1 GB for bench/extract.sh at 9 repetitions): ext4 without a journal
# passes over the inodes freed in the last minutes whenever it allocates one, so a tree
# removed just before a run makes that run's file creation several times slower, for every
# tool alike.
make_work_dir() { mktemp -d "${TMPDIR:-/tmp}/winqor-bench.XXXXXX"; }

now_ns() { date +%s%N; }
# The nanoseconds a command takes, its output dropped.
elapsed() { local start; start=$(now_ns); "$@" > /dev/null; echo $(( $(now_ns) - start )); }
ms() { awk -v n="$1" 'BEGIN { printf "%.1f", n / 1000000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# median of the numbers given
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# Peak resident memory of a command in KiB, when GNU time is there.
peak_kib() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
  else
    echo "n/a (apt-get install time)"
  fi
}
