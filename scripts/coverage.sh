#!/bin/bash
# Measures the line and branch coverage of the Linux test suite: a g++
# --coverage Debug build (build-cov/ by default), one ctest run, then gcovr
# (Debian package gcovr) over the product code only (no tests, fuzz targets
# or benchmarks). Prints a table per folder and writes
# BUILD_DIR/coverage/summary.json and BUILD_DIR/coverage/index.html (one
# page per file, showing which lines and branches ran).
#
# Usage: scripts/coverage.sh [BUILD_DIR]
# Environment: JOBS (parallel jobs, default: number of cores).
#
# Branch figures count the branches g++ emits for each condition; those that
# can only be taken by a thrown exception are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-cov}
JOBS=${JOBS:-$(nproc)}
command -v gcovr >/dev/null || { echo "needs gcovr (apt-get install gcovr)" >&2; exit 1; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=--coverage \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage
cmake --build "$build" -j "$JOBS"
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && ctest -j "$JOBS" --output-on-failure) || status=$?

mkdir -p "$build/coverage"
# The test program's own objects are left out: they hold only tests and the
# inline code they instantiate. One gcov at a time: parallel runs write
# the same .gcov files for shared headers and read each other's halves.
gcovr -r . -j 1 --object-directory "$build" \
  --exclude-directories "$build/CMakeFiles/(hearkener_tests|codec_stand_in)\.dir" \
  --exclude-directories "$build/CMakeFiles/[0-9.]+/" \
  --exclude-unreachable-branches --exclude-throw-branches \
  -e '.*_test\.cpp$' -e 'tests/' -e 'fuzz/' -e 'bench/' -e "$build/" \
  --json-summary "$build/coverage/summary.json" \
  --html-details "$build/coverage/index.html" >/dev/null

python3 - "$build/coverage/summary.json" <<'PYTHON'
import json
import sys

folders = {}
with open(sys.argv[1]) as f:
    for entry in json.load(f)["files"]:
        path = entry["filename"]
        folder = "tools/tapd_emu" if path.startswith("tools/tapd_emu/") else (
            path.split("/")[0] if "/" in path else ".")
        total = folders.setdefault(folder, [0, 0, 0, 0])
        total[0] += entry["line_covered"]
        total[1] += entry["line_total"]
        total[2] += entry["branch_covered"]
        total[3] += entry["branch_total"]


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f}%" if total else "    -"


print(f"{'folder':<16}{'lines':>16}{'':>8}{'branches':>16}")
rows = sorted(folders.items())
rows.append(("all", [sum(t[i] for _, t in rows) for i in range(4)]))
for folder, (lc, lt, bc, bt) in rows:
    print(f"{folder:<16}{lc:>7}/{lt:<7}{percent(lc, lt)}"
          f"{bc:>9}/{bt:<7}{percent(bc, bt)}")
PYTHON
if [ "$status" -ne 0 ]; then
  echo "some tests failed (ctest: $status); the figures are of this run" >&2
fi
exit "$status"
