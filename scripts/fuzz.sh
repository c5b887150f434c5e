#!/usr/bin/env bash
# Fuzzes the parsers of outside input with libFuzzer under AddressSanitizer
# and UndefinedBehaviorSanitizer, each from a corpus of real inputs, for a
# number of inputs (default 10 million each); prints the time each took.
# Usage: fuzz.sh [inputs per target]
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"
runs=${1:-10000000}

bash scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target wav_header_libfuzzer toc_libfuzzer toc_fuzz \
  stream_plan_libfuzzer stream_plan_fuzz

corpus=build/fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus/wav_header" "$corpus/toc" "$corpus/stream_plan"
cp tests/data/*.wav "$corpus/wav_header/"
build/fuzz/toc_fuzz --seeds "$corpus/toc"
build/fuzz/stream_plan_fuzz --seeds "$corpus/stream_plan"

for target in wav_header toc stream_plan; do
  SECONDS=0
  # A finding stops the run with its input saved in build/fuzz/.
  build/fuzz/${target}_libfuzzer -runs="$runs" -seed=1 -max_len=4096 \
    -artifact_prefix=build/fuzz/$target- "$corpus/$target" 2>build/fuzz/$target.log
  printf '%-12s %s inputs, no finding, %s s\n' "$target" "$runs" "$SECONDS"
done
