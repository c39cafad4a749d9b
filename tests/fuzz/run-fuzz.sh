#!/usr/bin/env bash
# Builds the document-format fuzzer with clang and runs it for a bounded time.
#   run-fuzz.sh [build-folder] [seconds]      (seconds default: $FUZZ_SECONDS or 30)
# Exits non-zero when the fuzzer finds a crash or a broken round trip (the input is kept in
# the build folder as crash-*); exits 0 with a message when clang++ is not installed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-fuzz}
seconds=${2:-${FUZZ_SECONDS:-30}}

compiler=$(command -v clang++ || true)
if [ -z "$compiler" ]; then
    echo "run-fuzz.sh: clang++ is not installed; the document-format fuzzer is skipped."
    exit 0
fi

generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
mkdir -p "$build"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER="$compiler" >"$build/configure.log" 2>&1 \
        || { cat "$build/configure.log"; exit 1; }
fi
cmake --build "$build" -j2

# Seeds: a few written forms and plain files, so the run starts from the shapes that matter.
corpus="$build/corpus"
mkdir -p "$corpus"
printf '\001a,b\r\n"x"\r\n"a""b"\r\n\r\nc\rd\n' >"$corpus/seed-file"
printf '\001\357\273\277"unterminated\r\n' >"$corpus/seed-bom"
printf '\001caf\351 "x"y,\303' >"$corpus/seed-latin1"
printf '\001\377\376"\000a\000,\000\r\000\n\000=\330\000\336' >"$corpus/seed-utf16"
printf '\000"\000,\000\r\000\n\000a\000=\330\000\336' >"$corpus/seed-text"

cd "$build"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    ./fuzz_docformat -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$corpus"
