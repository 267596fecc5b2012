#!/usr/bin/env bash
# The desktop files as a desktop sees them: the entry passes
# desktop-file-validate; the user install of a portable folder makes xdg-mime
# name our types for .rbp and .rbs archives and our entry as their program,
# and its removal takes all of it away; cmake --install lays out a prefix
# whose program runs. Everything happens in a temporary data folder.
#   desktop.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
bin=$build/bin
for tool in desktop-file-validate xdg-mime update-mime-database update-desktop-database mimetype python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d /tmp/rb-desktop.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_DATA_DIRS=/usr/share
unset XDG_CURRENT_DESKTOP KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DESKTOP_SESSION
passed=0
failed=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1: expected [$2], got [$3]"
  fi
}
ok() {  # ok WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }

# The entry of the portable folder.
entry=$bin/share/applications/rimbal2.desktop
ok "desktop-file-validate $entry" desktop-file-validate "$entry"
check "Name" "Rimbal 2" "$(key "$entry" Name)"
check "Exec" "rimbal2 %F" "$(key "$entry" Exec)"
check "Categories" "AudioVideo;Audio;Music;" "$(key "$entry" Categories)"
check "MimeType" "application/x-rimbal-package;application/x-rimbal-sequence;application/x-hydrogen-drumkit;" "$(key "$entry" MimeType)"
for size in 16 22 24 32 48 64 128 256; do
  check "icon size ${size}" "PNG ${size}x${size}" \
    "$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("PNG %dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "?")' \
      "$bin/share/icons/hicolor/${size}x${size}/apps/rimbal2.png")"
done

# Real archives: ZIP content must not hide the type the name gives.
python3 - "$work" <<'PY'
import sys, zipfile
for name in ("kit.rbp", "groove.rbs", "KIT2.RBP"):
    with zipfile.ZipFile(sys.argv[1] + "/" + name, "w") as z:
        z.writestr("RBS.txt" if name.endswith("rbs") else "Info.txt", "65*100*")
PY
tar -czf "$work/GMRockKit.h2drumkit" -T /dev/null
check "before install" "application/zip" "$(xdg-mime query filetype "$work/kit.rbp")"

# A portable folder whose name needs quoting in Exec.
folder="$work/Meus \$programas \"Rimbal\" 100%"
mkdir -p "$folder"
cp -r "$bin/rimbal2" "$bin/librbcore.so" "$bin/plugins" "$bin/share" "$folder/"
ok "user install" "$src/scripts/desktop.sh" install "$folder" >/dev/null
installed=$XDG_DATA_HOME/applications/rimbal2.desktop
ok "desktop-file-validate on the installed entry" desktop-file-validate "$installed"
check "installed Exec" "\"$work/Meus \\\\\$programas \\\\\"Rimbal\\\\\" 100%%/rimbal2\" %F" "$(key "$installed" Exec)"
check "filetype .rbp" "application/x-rimbal-package" "$(xdg-mime query filetype "$work/kit.rbp")"
check "filetype .RBP" "application/x-rimbal-package" "$(xdg-mime query filetype "$work/KIT2.RBP")"
check "filetype .rbs" "application/x-rimbal-sequence" "$(xdg-mime query filetype "$work/groove.rbs")"
check "default for packages" "rimbal2.desktop" "$(xdg-mime query default application/x-rimbal-package)"
check "default for sequences" "rimbal2.desktop" "$(xdg-mime query default application/x-rimbal-sequence)"
check "filetype .h2drumkit" "application/x-hydrogen-drumkit" "$(xdg-mime query filetype "$work/GMRockKit.h2drumkit")"
check "a program for Hydrogen kits" "rimbal2.desktop" "$(xdg-mime query default application/x-hydrogen-drumkit)"
check "comment" "Sequência de teclas do Rimbal" \
  "$(sed -n 's:.*<comment>\(.*\)</comment>.*:\1:p' "$XDG_DATA_HOME/mime/application/x-rimbal-sequence.xml" | head -n 1)"
ok "icon installed" test -f "$XDG_DATA_HOME/icons/hicolor/48x48/mimetypes/application-x-rimbal-package.png"
ok "user remove" "$src/scripts/desktop.sh" remove >/dev/null
check "after remove" "application/zip" "$(xdg-mime query filetype "$work/kit.rbp")"
check "files left after remove" "" "$(find "$XDG_DATA_HOME" -name '*rimbal*' -print)"
ok "a folder that is no program is refused" bash -c "! '$src/scripts/desktop.sh' install '$work' 2>/dev/null"

# cmake --install under a prefix.
prefix=$work/prefix
ok "cmake --install" cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/rimbal2 lib/rimbal2/rimbal2 lib/rimbal2/librbcore.so "lib/rimbal2/Pacotes/Rimbal Demo/Keys.txt" \
  share/applications/rimbal2.desktop share/mime/packages/rimbal2.xml share/icons/hicolor/256x256/apps/rimbal2.png \
  share/icons/hicolor/16x16/mimetypes/application-x-rimbal-sequence.png; do
  ok "installed $f" test -e "$prefix/$f"
done
ok "installed plugins folder" test -d "$prefix/lib/rimbal2/plugins"
check "installed program runs" "Rimbal 2" "$(env -u DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/rimbal2" --version | head -n 1 | cut -d' ' -f1-2)"
check "prefix types" "application/x-rimbal-sequence" "$(XDG_DATA_HOME=$prefix/share xdg-mime query filetype "$work/groove.rbs")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
