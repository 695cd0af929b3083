#!/bin/sh
# install_tree.sh BUILD: "cmake --install" into a scratch prefix puts the
# programs, man pages and desktop integration in place, no test program
# among them, and every installed .desktop file passes desktop-file-validate.
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
for f in bin/tessaly bin/tessaly-send bin/tessaly-encode share/man/man1/tessaly.1 share/man/man1/tessaly-send.1 \
         share/tessaly/readme.txt share/tessaly/tessaly.svg share/nemo/actions/tessaly.nemo_action \
         share/icons/hicolor/scalable/apps/tessaly.svg share/tessaly/thunar-uca.xml; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ -x "$prefix/share/kio/servicemenus/tessaly-send-with.desktop" ] || { echo "service menu not executable"; exit 1; }
[ "$(ls "$prefix/bin")" = "$(printf 'tessaly\ntessaly-encode\ntessaly-send')" ] || { ls "$prefix/bin"; exit 1; }
grep -q '^MimeType=.*x-scheme-handler/mailto;' "$prefix/share/applications/tessaly.desktop"
count=0
for f in $(find "$prefix" -name '*.desktop'); do
  desktop-file-validate "$f"
  count=$((count + 1))
done
[ "$count" -eq 2 ] || { echo "expected 2 .desktop files, found $count"; exit 1; }
echo "installed and valid"
