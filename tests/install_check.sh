#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the build into a scratch DESTDIR and checks what a desktop gets:
# the programs, the desktop entry, icons, AppStream metainfo, manual pages and
# bash completion, each read by the tool that will read it on a real system;
# makes the Debian package and has lintian judge it; and starts the staged
# window, opens its site link and checks that it wrote nothing under the
# prefix.
# Usage: install_check.sh BUILD_DIR APP_ID
set -euo pipefail
build=$(cd "$1" && pwd)
id=$2
skip=77

for tool in desktop-file-validate appstreamcli man cpack dpkg-shlibdeps lintian xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit $skip
    fi
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 || {
    cat "$stage.log"
    rm -f "$stage.log"
    echo "FAIL: cmake --install"
    exit 1
}
rm -f "$stage.log"
usr=$stage/usr

# Exactly these files, so that a stray install rule shows up too.
expected=(
    "bin/reelcast"
    "bin/reelcast-batch"
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg"
    "share/icons/hicolor/48x48/apps/$id.png"
    "share/icons/hicolor/128x128/apps/$id.png"
    "share/icons/hicolor/256x256/apps/$id.png"
    "share/man/man1/reelcast.1.gz"
    "share/man/man1/reelcast-batch.1.gz"
    "share/bash-completion/completions/reelcast-batch"
    "share/doc/reelcast/copyright"
    "share/doc/reelcast/changelog.gz"
    "share/lintian/overrides/reelcast"
)
installed=$(cd "$stage" && find . -type f -printf '%P\n' | sort)
wanted=$(printf 'usr/%s\n' "${expected[@]}" | sort)
if [ "$installed" != "$wanted" ]; then
    fail "installed files differ from the expected ones:"
    diff <(echo "$wanted") <(echo "$installed") || true
fi
for program in reelcast reelcast-batch; do
    [ -x "$usr/bin/$program" ] || fail "$program is not executable"
done
"$usr/bin/reelcast-batch" --help | grep -q '^Usage: reelcast-batch' || fail "the installed reelcast-batch --help"

for size in 48 128 256; do
    png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$png" ] || continue
    # The PNG header's width and height, big-endian at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "$id.png in ${size}x${size} is $dims"
done

desktop=$usr/share/applications/$id.desktop
if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    entry() { sed -n "s/^$1=//p" "$desktop"; }
    [ "$(entry Icon)" = "$id" ] || fail "the desktop entry's icon is not $id"
    [ -x "$usr/bin/$(entry Exec | cut -d' ' -f1)" ] || fail "the desktop entry runs no installed program"
    # Qt's X11 window class is the program's name.
    [ "$(entry StartupWMClass)" = reelcast ] || fail "StartupWMClass is not the window's class"
    for category in AudioVideo Video; do
        entry Categories | tr ';' '\n' | grep -qx "$category" || fail "the desktop entry is not in $category"
    done
fi

metainfo=$usr/share/metainfo/$id.metainfo.xml
if [ -f "$metainfo" ]; then
    appstreamcli validate --no-net "$metainfo" >"$stage/appstream.txt" 2>&1 || {
        cat "$stage/appstream.txt"
        fail "appstreamcli validate"
    }
    grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $id.desktop"
fi

# gzip -n: no name, no time (bytes 3 to 7 zero), so equal sources give equal bytes.
for file in "$usr"/share/man/man1/*.gz "$usr/share/doc/reelcast/changelog.gz"; do
    [ "$(od -An -tu1 -j3 -N5 "$file" | tr -d ' ')" = 00000 ] || fail "${file#"$usr"/} keeps a name or a time"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
head=$(zcat "$usr/share/doc/reelcast/changelog.gz" | head -1)
[[ "$head" == "reelcast ($version) "* ]] || fail "the changelog's latest entry is '$head', the project is $version"
grep -q '^License: GPL-2+$' "$usr/share/doc/reelcast/copyright" || fail "the copyright file names no GPL-2+"
grep -q '<project_license>GPL-2.0-or-later</project_license>' "$usr/share/metainfo/$id.metainfo.xml" ||
    fail "the metainfo does not say GPL-2.0-or-later"

for page in reelcast reelcast-batch; do
    file=$usr/share/man/man1/$page.1.gz
    [ -f "$file" ] || continue
    text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$file" 2>"$stage/man.err") || fail "man $page"
    if [ -s "$stage/man.err" ]; then
        cat "$stage/man.err"
        fail "man --warnings on $page.1"
    fi
    grep -q "^NAME" <<<"$text" && grep -Eq "^ *$page +- " <<<"$text" || fail "$page.1 has no NAME line for $page"
done
# Every option of the program's own help is in its manual page.
if [ -f "$usr/share/man/man1/reelcast-batch.1.gz" ]; then
    page=$(MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$usr/share/man/man1/reelcast-batch.1.gz" 2>/dev/null)
    for option in $("$usr/bin/reelcast-batch" --help | grep -o -- '--[a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$page" || fail "reelcast-batch.1 does not describe $option"
    done
fi

completion=$usr/share/bash-completion/completions/reelcast-batch
if [ -f "$completion" ]; then
    bash -n "$completion" || fail "bash -n on the completion"
    # Completes as bash would, from a shell without the user's set-up.
    complete_words() {
        bash --norc --noprofile -c '
            source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            _reelcast_batch
            printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@" | sort | tr '\n' ' '
    }
    codecs=$("$usr/bin/reelcast-batch" --list-codecs | awk '{print $1}' | sort | tr '\n' ' ')
    [ -n "$codecs" ] || fail "reelcast-batch --list-codecs lists nothing"
    got=$(complete_words "$usr/bin/reelcast-batch" --codec "")
    [ "$got" = "$codecs" ] || fail "--codec completes to '$got', not the build's '$codecs'"
    got=$(complete_words "$usr/bin/reelcast-batch" --codec = "")
    [ "$got" = "$codecs" ] || fail "--codec= completes to '$got', not the build's '$codecs'"
    got=$(complete_words "$stage/no-such-program" --codec "")
    [ "$got" = "ffv1 h264 huffyuv mjpeg mpeg4 raw utvideo zmbv " ] || fail "the fixed codec list is '$got'"
    got=$(complete_words reelcast-batch --over)
    [ "$got" = "--overwrite " ] || fail "--over completes to '$got'"
    mkdir -p "$stage/frames dir"
    touch "$stage/frames dir/movie.avi" "$stage/frames dir/shot0001.tga"
    got=$(complete_words reelcast-batch "$stage/fr")
    [ "$got" = "$stage/frames dir " ] || fail "the frame directory completes to '$got'"
    got=$(complete_words reelcast-batch --fps 15 "$stage/frames dir" "$stage/frames dir/")
    [ "$got" = "$stage/frames dir/movie.avi " ] || fail "the movie completes to '$got'"
fi

# The package holds what the install gives, and lintian finds no error or
# warning in it (overridden tags say why in the package).
(cd "$stage" && cpack -G DEB -B "$stage/package" --config "$build/CPackConfig.cmake" >"$stage/cpack.log" 2>&1) || {
    cat "$stage/cpack.log"
    fail "cpack -G DEB"
}
deb=$(ls "$stage"/package/reelcast_*.deb 2>/dev/null | head -1 || true)
if [ -n "$deb" ]; then
    packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub("^\\./", "", $6); print $6}' | sort)
    [ "$packaged" = "$wanted" ] || {
        fail "the package's files differ from the expected ones:"
        diff <(echo "$wanted") <(echo "$packaged") || true
    }
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
    lintian --fail-on error,warning "$deb" >"$stage/lintian.txt" 2>&1 || {
        cat "$stage/lintian.txt"
        fail "lintian"
    }
fi

# The staged window, started by whoever runs the check (root included), with
# a browser registered that notes the link it is given; its site link is
# clicked, then a stop signal closes it as the user would.
work=$(mktemp -d)
trap 'rm -rf "$stage" "$work"' EXIT
mkdir -p "$work/home" "$work/data/applications" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
printf '#!/bin/sh\necho "$*" > "$0.ran"\n' >"$work/browser"
chmod +x "$work/browser"
printf '[Desktop Entry]\nType=Application\nName=B\nExec=%s %%u\nMimeType=text/html;\n' "$work/browser" \
    >"$work/data/applications/b.desktop"
printf '[Default Applications]\ntext/html=b.desktop\n' >"$work/config/mimeapps.list"
before=$(cd "$usr" && find . -printf '%P %y %m\n' | sort)
HOME=$work/home XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$work/data XDG_CONFIG_HOME=$work/config \
XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 \
    timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$1" 2>/dev/null & program=$!
        window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Reelcast") || exit 1
        sleep 1
        # The site link, at the window'"'"'s lower left.
        xdotool mousemove --window "${window%%$'"'"'\n'"'"'*}" 30 344 click 1
        for _ in $(seq 100); do [ -s "$2.ran" ] && break; sleep 0.1; done
        kill -TERM $program
        wait $program' _ "$usr/bin/reelcast" "$work/browser" || fail "the staged window did not start, or did not close on SIGTERM"
[ "$(cat "$work/browser.ran" 2>/dev/null)" = "https://reelcast.example.org" ] || fail "the site link did not reach the browser"
[ -d "$work/home/Videos/Reelcast" ] || fail "the staged window made no output folder in the user's videos folder"
[ -f "$work/config/Reelcast/RCT.ini" ] || fail "the staged window remembered no frame directory"
after=$(cd "$usr" && find . -printf '%P %y %m\n' | sort)
[ "$before" = "$after" ] || {
    fail "the staged window changed the prefix:"
    diff <(echo "$before") <(echo "$after") || true
}
[ -z "$(ls -A "$work/runtime")" ] || fail "the link's page was left in $work/runtime: $(ls -A "$work/runtime")"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "installed layout, desktop entry, metainfo, manual pages, completion, package and staged window all check out"
