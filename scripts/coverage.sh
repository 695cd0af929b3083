#!/usr/bin/env bash
# Line and branch coverage of the product folders by the whole test suite.
# Builds a Debug tree with --coverage in build-coverage/, runs every test,
# then reports with gcovr per folder and in total.
#   scripts/coverage.sh            build, test, report
#   scripts/coverage.sh --report   report on the last run only
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-coverage
folders=(encoding mail platform app)

if [ "${1:-}" != "--report" ]; then
  bash scripts/deps.sh gcovr
  export QT_QPA_PLATFORM=offscreen
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
        -DCMAKE_SHARED_LINKER_FLAGS=--coverage
  cmake --build "$build" -j "$(nproc)"
  # Counts from an earlier run would add to this one's.
  find "$build" -name '*.gcda' -delete
  ctest --test-dir "$build" -j "$(nproc)" --timeout 300 || echo "coverage: some tests failed" >&2
fi

# Objects of targets that no longer exist would count as code never run.
ninja -C "$build" -t cleandead >/dev/null
find "$build" -name '*.gcno' | while read -r notes; do
  [ -e "${notes%.gcno}.o" ] || rm -f "$notes"
done

# The "lines: 94.1% (...)" and "branches: 56.9% (...)" of gcovr's summary.
# (Never point --output at /dev/null: gcovr replaces the file it writes.)
summary() {
  gcovr --root . --object-directory "$build" "$@" --print-summary 2>&1 \
    | awk '/^(lines|branches):/ { $1 = sprintf(" %-9s", $1); printf "%s", $0 }'
}

for folder in "${folders[@]}"; do
  printf '%-10s%s\n' "$folder/" "$(summary --filter "$folder/")"
done
filters=()
for folder in "${folders[@]}"; do filters+=(--filter "$folder/"); done
printf '%-10s%s\n' "total" "$(summary "${filters[@]}")"
