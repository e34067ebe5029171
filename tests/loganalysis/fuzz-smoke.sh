#!/bin/sh
# Runs the parser's fuzz target for a few seconds. Uses the target of a
# -DVELTH_FUZZ=ON build when given one, else builds it here with clang
# (skipped, exit 77, when clang or its libFuzzer is missing).
# usage: fuzz-smoke.sh SOURCE_DIR WORK_DIR [FUZZ_BINARY] [SECONDS]
set -eu
src=$1
work=$2
bin=${3:-}
seconds=${4:-5}
here="$src/tests/loganalysis"
sources="$src/loganalysis/LogParser.cpp $src/common/Error.cpp $src/common/TextLines.cpp $here/ReferenceParser.cpp $here/LogParserFuzz.cpp"
mkdir -p "$work"
if [ -z "$bin" ] || [ ! -x "$bin" ]; then
    command -v clang++ >/dev/null 2>&1 || { echo "clang++ not installed: skipped"; exit 77; }
    flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
    printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' >"$work/probe.cpp"
    clang++ $flags "$work/probe.cpp" -o "$work/probe" >/dev/null 2>&1 || { echo "no libFuzzer: skipped"; exit 77; }
    bin="$work/logparser-fuzz"
    stale=no
    [ -x "$bin" ] || stale=yes
    for f in $sources "$here/ReferenceParser.h" "$src/loganalysis/LogParser.h"; do
        [ "$f" -nt "$bin" ] && stale=yes
    done
    if [ $stale = yes ]; then
        echo "Building $bin"
        clang++ $flags -I"$src" -I"$here" $sources -o "$bin"
    fi
fi
corpus="$work/corpus"
mkdir -p "$corpus"
exec "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$work/" \
    -dict="$here/logparser.dict" "$corpus" "$here/fuzz-seeds"
