#!/usr/bin/env bash
# Fails when a C++ source is not formatted by the project's .clang-format.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/velth-format.$$; then
    head -40 /tmp/velth-format.$$ >&2
    rm -f /tmp/velth-format.$$
    echo "Formatting differs from .clang-format; run: clang-format -i \$(git ls-files '*.cpp' '*.h')" >&2
    exit 1
fi
rm -f /tmp/velth-format.$$
