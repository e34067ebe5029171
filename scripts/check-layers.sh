#!/usr/bin/env bash
# Checks that includes between the program's folders run one way:
#   common <- skin <- profiles <- net <- editors, loganalysis <- live <- app
# (a folder may include its own headers and those of the folders it stands
# on; the editors and the log pages stand side by side on the network layer
# and never include each other), and that the sources of the core library
# include no widget or painting header.
# usage: check-layers.sh [SOURCE_DIR]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
layers=(common skin profiles net editors loganalysis live app)
# What each folder may include, besides its own headers.
declare -A below=(
    [common]=""
    [skin]="common"
    [profiles]="common skin"
    [net]="common skin profiles"
    [editors]="common skin profiles net"
    [loganalysis]="common skin profiles net"
    [live]="common skin profiles net editors loganalysis"
    [app]="common skin profiles net editors loganalysis live"
)
status=0

for ((i = 0; i < ${#layers[@]}; i++)); do
    folder=${layers[$i]}
    read -r -a allowed <<<"${below[$folder]} $folder"
    while IFS=: read -r file line text; do
        target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
        ok=no
        for a in "${allowed[@]}"; do
            [ "$target" = "$a" ] && ok=yes
        done
        if [ $ok = no ]; then
            echo "$file:$line: $folder/ must not include from $target/: $text"
            status=1
        fi
    done < <(grep -Hn -E '^#include "[^/"]+/' "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
done

# The core library: files listed under target_sources(velth_core ...).
core_files=$(for folder in "${layers[@]}"; do
    [ -f "$folder/CMakeLists.txt" ] || continue
    awk -v dir="$folder" '/target_sources\(velth_core/ { on = 1; next } on && /\)/ { on = 0 }
        on && NF { print dir "/" $1 }' "$folder/CMakeLists.txt"
done)
for file in $core_files; do
    for f in "$file" "${file%.cpp}.h"; do
        [ -f "$f" ] || continue
        if grep -Hn -E '^#include <(QtGui|QtWidgets|QWidget|QPainter|QPixmap|QImage|QColor|QFont|QApplication|QGuiApplication)' "$f"; then
            echo "$f: the core library must not use QtGui or QtWidgets"
            status=1
        fi
    done
done

[ $status = 0 ] && echo "Layers: includes run one way; the core library has no widget headers."
exit $status
