#!/bin/sh
# Runs one libFuzzer target for a while, at the lowest priority, on a working
# copy of its seed corpus (the seeds in the repository are not touched).
#
#   fuzz/run_fuzzer.sh <build dir> <target> [seconds] [extra libFuzzer options]
#
# <build dir> is a build configured with -DMIRELWEB_FUZZ=ON and clang (see
# docs/fuzzing.md); <target> one of request_fields template_producer
# config_files codepage dbase_tables. New inputs go to
# <build dir>/fuzz-runs/<target>/corpus, crashes to .../crashes/, the log to
# .../fuzz.log.
set -eu
[ $# -ge 2 ] || { sed -n '2,12p' "$0"; exit 2; }
build=$1 target=$2 seconds=${3:-600}
[ $# -ge 3 ] && shift 3 || shift 2
src=$(cd "$(dirname "$0")" && pwd)
binary=$build/fuzz/${target}_fuzz
[ -x "$binary" ] || { echo "$binary: not built" >&2; exit 2; }

work=$build/fuzz-runs/$target
mkdir -p "$work/corpus" "$work/crashes"
cp -n "$src/corpus/$target/"* "$work/corpus/" 2>/dev/null || true

# The template and table targets need room for a line of 4096 bytes and for
# a table with its memo file.
case $target in
  template_producer) max_len=12000 ;;
  dbase_tables) max_len=8192 ;;
  *) max_len=4096 ;;
esac
dict=
[ -f "$src/dict/$target.dict" ] && dict=-dict=$src/dict/$target.dict

# The targets write their files into a scratch directory under TMPDIR; a
# memory file system spares the disk the writes (and the ini writer's fsync).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TMPDIR=/dev/shm
  export TMPDIR
fi

cd "$work"
exec nice -n 19 "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
  -print_final_stats=1 -artifact_prefix="$work/crashes/" $dict "$@" corpus >fuzz.log 2>&1
