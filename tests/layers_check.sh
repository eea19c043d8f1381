#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The include graph of the product's folders: every include stays in its
# folder or points down a floor, never up and never across a floor (so there
# is no cycle), and the libraries that build without Qt include none of it.
#
#   layers_check.sh SOURCE_DIR "QT_FREE_FILES..."
#
# QT_FREE_FILES are the sources of the Qt-free libraries, as the build lists
# them (folder/file), so that this list cannot drift from the build's.
set -euo pipefail
root=$1
qt_free=$2

# The floors, bottom up: a folder may include only its own headers and those
# of folders on lower floors.
declare -A floor=([formats]=0 [system]=0 [imaging]=1 [movie]=1 [run]=2 [window]=3 [batch]=3)

# Where each header of the product lives.
declare -A home
for folder in "${!floor[@]}"; do
    for header in "$root/$folder"/*.h; do
        [ -e "$header" ] || continue
        name=$(basename "$header")
        if [ -n "${home[$name]:-}" ]; then
            echo "$name is in both $folder/ and ${home[$name]}/: an include could not say which"
            exit 1
        fi
        home[$name]=$folder
    done
done

failures=0
for folder in "${!floor[@]}"; do
    for file in "$root/$folder"/*.cpp "$root/$folder"/*.h; do
        [ -e "$file" ] || continue
        while IFS= read -r name; do
            to=${home[$name]:-}
            [ -n "$to" ] || continue # a header of a library, not of ours
            if [ "$to" != "$folder" ] && [ "${floor[$to]}" -ge "${floor[$folder]}" ]; then
                echo "$folder/$(basename "$file") includes $to/$name: $to is not on a lower floor"
                failures=$((failures + 1))
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done
done

# A Qt-free library's file, or a header of ours it includes, brings no Qt.
qt_headers=()
for name in "${!home[@]}"; do
    grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$root/${home[$name]}/$name" && qt_headers+=("$name")
done
# Folders without a Qt part are checked whole, headers without a source too.
whole=()
for folder in formats imaging run batch; do
    for file in "$root/$folder"/*.cpp "$root/$folder"/*.h; do
        [ -e "$file" ] && whole+=("${file#"$root"/}")
    done
done
for source in $qt_free "${whole[@]}"; do
    for file in "$root/$source" "$root/${source%.cpp}.h"; do
        [ -e "$file" ] || continue
        if grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
            echo "${file#"$root"/} is built without Qt but includes Qt"
            failures=$((failures + 1))
        fi
        for name in "${qt_headers[@]}"; do
            if grep -q "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"$name\"" "$file"; then
                echo "${file#"$root"/} is built without Qt but includes $name, which brings Qt"
                failures=$((failures + 1))
            fi
        done
    done
done

if [ "$failures" -gt 0 ]; then
    echo "$failures includes break the floors"
    exit 1
fi
echo "every include stays in its folder or points down a floor; the Qt-free libraries include no Qt"
