#!/usr/bin/env bash
# Runs one libFuzzer target for a while.
#
#   bash scripts/fuzz.sh TARGET SECONDS      (TARGET: encoders, settings, addresslist, reply)
#
# Builds the target with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, then fuzzes it starting from
# its corpus in tests/data/fuzz/TARGET/. New inputs go to build-fuzz/corpus/
# TARGET/, not into the tree; an input that breaks the target is written to
# build-fuzz/crashes/TARGET/. Once the fault is fixed, copy that input into
# tests/data/fuzz/TARGET/ with a name that says what it found: the replay
# test (fuzz_replay_TARGET) then keeps it fixed.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 TARGET SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2
cd "$(dirname "$0")/.."
root=$(pwd)
if [ ! -d "tests/data/fuzz/$target" ]; then
  echo "unknown target: $target (one of: $(ls tests/data/fuzz | tr '\n' ' '))" >&2
  exit 2
fi

# clang with its libFuzzer runtime; only this script needs them.
bash scripts/deps.sh clang libclang-rt-14-dev

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DTESSALY_FUZZ=ON -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target "fuzz_$target"

corpus="$root/build-fuzz/corpus/$target"
crashes="$root/build-fuzz/crashes/$target"
mkdir -p "$corpus" "$crashes"
export QT_QPA_PLATFORM=offscreen
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$crashes/" \
  "$corpus" "tests/data/fuzz/$target"
