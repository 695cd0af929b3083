#!/bin/sh
# install_tree.sh BUILD: "cmake --install" puts the programs (no test program), man pages and desktop
# integration in place, and every installed .desktop file passes desktop-file-validate.
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
cd "$prefix"
[ "$(ls bin)" = "$(printf 'tessaly\ntessaly-encode\ntessaly-send')" ] || { ls bin; exit 1; }
for f in share/man/man1/tessaly.1 share/man/man1/tessaly-send.1 share/tessaly/readme.txt share/tessaly/tessaly.svg \
         share/tessaly/thunar-uca.xml share/nemo/actions/tessaly.nemo_action share/icons/hicolor/scalable/apps/tessaly.svg
do [ -f "$f" ] || { echo "not installed: $f"; exit 1; }; done
[ -x share/kio/servicemenus/tessaly-send-with.desktop ] || { echo "service menu not executable"; exit 1; }
grep -q '^MimeType=.*x-scheme-handler/mailto;' share/applications/tessaly.desktop
[ "$(find . -name '*.desktop' | wc -l)" -eq 2 ] || { find . -name '*.desktop'; exit 1; }
find . -name '*.desktop' -exec desktop-file-validate {} +
