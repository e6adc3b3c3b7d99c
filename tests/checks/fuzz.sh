#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/Fuzz*.cpp) with clang into build/fuzz and runs each for a
# bounded time; a crash or a sanitizer report fails the check.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=$ROOT/build/fuzz
SECONDS_EACH=${KESTREL_FUZZ_SECONDS:-10}
JOBS=${KESTREL_JOBS:-2}

if [ ! -f "$OUT/build.ninja" ]; then
  cmake -S "$ROOT/fuzz" -B "$OUT" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$OUT" -j "$JOBS"

status=0
for src in "$ROOT"/fuzz/Fuzz*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=$OUT/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "$ROOT/fuzz/corpus/$name" ] && seeds+=("$ROOT/fuzz/corpus/$name")
  echo "fuzz: $name for ${SECONDS_EACH}s"
  if ! (cd "$OUT" && "./$name" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=4096 -max_len=20000 -print_final_stats=0 \
        "$corpus" "${seeds[@]}" >"$OUT/$name.log" 2>&1); then
    echo "fuzz: $name FAILED; the tail of $OUT/$name.log:" >&2
    tail -40 "$OUT/$name.log" >&2
    status=1
  else
    grep -E '^#[0-9]+.*(DONE|pulse)' "$OUT/$name.log" | tail -1 || true
  fi
done
exit $status
