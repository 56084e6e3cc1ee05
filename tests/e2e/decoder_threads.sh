#!/usr/bin/env bash
# The decoder runs on as many threads as the processors this process may use (its affinity
# mask, its control group's CPU quota) and its memory budget allow, no more, and says how many
# on the debug channel, from inside the sandboxed child: aze -v test and aze -v extract. The
# budget is lowered through the test builds' seam (WINQOR_TEST_DECODER_MB); the quota is
# tried only where this test may make a control group of its own.
# usage: decoder_threads.sh AZE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
cd "$work"

# About 4.2 MB of text: six blocks at the highest level (719,984 bytes of input each).
mkdir tree
seq 1 600000 > tree/numbers.txt
"$aze" create -o numbers.aze tree < /dev/null > /dev/null || fail "aze create"
blocks=6
processors=$(nproc)

# The decoder's line from a run: "decoder: ..." on the debug channel.
decoder_line() { "$@" 2>&1 > /dev/null | grep '^decoder:' || true; }
one_call="^decoder: 1 thread, one call \(processors: 1,"
min() { echo $(($1 < $2 ? $1 : $2)); }

# what is run | the line wanted (an extended regular expression)
if [ "$processors" -ge 2 ]; then
  all="^decoder: $(min "$processors" "$blocks") threads for $blocks blocks \(processors: $processors, memory budget: [0-9]+ MB\)$"
else
  all=$one_call
fi
expect_match "every processor" "$(decoder_line "$aze" -v test numbers.aze)" "$all"
expect_match "taskset -c 0, test" "$(decoder_line taskset -c 0 "$aze" -v test numbers.aze)" "$one_call"
expect_match "taskset -c 0, extract" \
  "$(decoder_line taskset -c 0 "$aze" -v extract -C out-one numbers.aze)" "$one_call"
expect_equal "taskset -c 0: the tree" "$(describe_tree out-one)" "$(describe_tree tree)"

# The budget: 11 MB holds two threads at the highest level (5.2 MB each), 5 MB none.
seams=$(WINQOR_TEST_ESCAPE_TO=$work/seam "$aze" -v extract -C seam-check numbers.aze 2>&1 >/dev/null |
  grep -c "confinement probe" || true)
if [ "$seams" -eq 0 ]; then
  skip_checks 3 "this build carries no test seams (WINQOR_TEST_SEAMS)"
elif [ "$processors" -lt 2 ]; then
  skip_checks 3 "one processor: no budget lowers the thread count below it"
else
  expect_match "an 11 MB budget" "$(WINQOR_TEST_DECODER_MB=11 decoder_line "$aze" -v test numbers.aze)" \
    "^decoder: 2 threads for $blocks blocks \(processors: $processors, memory budget: 11 MB\)$"
  expect_match "a 5 MB budget" "$(WINQOR_TEST_DECODER_MB=5 decoder_line "$aze" -v test numbers.aze)" \
    "^decoder: 1 thread, one call \(processors: $processors, memory budget: 5 MB\)$"
  WINQOR_TEST_DECODER_MB=11 "$aze" extract -C out-budget numbers.aze > /dev/null 2>&1 ||
    fail "extract on an 11 MB budget"
  expect_equal "an 11 MB budget: the tree" "$(describe_tree out-budget)" "$(describe_tree tree)"
fi

# A CPU quota of one processor, in a control group of this test's own (v2, else v1).
group=
if [ -f /sys/fs/cgroup/cgroup.controllers ] && mkdir /sys/fs/cgroup/winqor-test-$$ 2>/dev/null; then
  group=/sys/fs/cgroup/winqor-test-$$
  echo "100000 100000" > "$group/cpu.max" 2>/dev/null || { rmdir "$group"; group=; }
  members=cgroup.procs
elif [ -d /sys/fs/cgroup/cpu ] && mkdir /sys/fs/cgroup/cpu/winqor-test-$$ 2>/dev/null; then
  group=/sys/fs/cgroup/cpu/winqor-test-$$
  { echo 100000 > "$group/cpu.cfs_period_us" && echo 100000 > "$group/cpu.cfs_quota_us"; } 2>/dev/null ||
    { rmdir "$group"; group=; }
  members=tasks
fi
if [ -z "$group" ]; then
  skip_checks 1 "no control group of its own can be made here (needs root and a writable cpu controller)"
else
  line=$(sh -c 'echo $$ > "$1/$2" && exec "$3" -v test "$4" 2>&1 >/dev/null' quota "$group" "$members" \
    "$aze" numbers.aze | grep '^decoder:' || true)
  rmdir "$group"
  expect_match "a quota of one processor" "$line" "$one_call"
fi
finish
