#!/usr/bin/env bash
# Sets up the machine, builds Velvanet and runs the whole test suite: a plain
# build, then the suite again under ASan+UBSan and under TSan, then each
# fuzzer for VV_FUZZ_SECONDS (30). VV_QUICK=1 runs the plain build only.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/setup.sh
JOBS="$(nproc)"
# Rebuilds in another checkout of the same tree hit the compiler cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"

build_and_test() { # dir, cmake options...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  bash scripts/make_db.sh "$dir"
  (cd "$dir" && ctest --output-on-failure -j "${VV_TEST_JOBS:-4}" --timeout 900)
}

build_and_test build

if [ "${VV_QUICK:-0}" != "1" ]; then
  ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp" build_and_test build-asan -DVV_ASAN=ON -DVV_BENCH=OFF
  TSAN_OPTIONS=halt_on_error=1 build_and_test build-tsan -DVV_TSAN=ON -DVV_BENCH=OFF
fi

VV_FUZZ_SECONDS="${VV_FUZZ_SECONDS:-30}"
if [ "${VV_QUICK:-0}" != "1" ] && [ "$VV_FUZZ_SECONDS" != "0" ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVV_FUZZ=ON -DVV_TESTS=OFF -DVV_BENCH=OFF -DVV_CONSOLE=OFF >/dev/null
  cmake --build build-fuzz -j "$JOBS"
  for f in build-fuzz/tests/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    echo "fuzz: $f for ${VV_FUZZ_SECONDS}s"
    "$f" -max_total_time="$VV_FUZZ_SECONDS" -rss_limit_mb=2048 >/dev/null 2>"$f.log" || { tail -50 "$f.log"; exit 1; }
  done
fi
