#!/usr/bin/env bash
# The Debian package as a user's machine gets it: cpack builds
# rimbal2_<version>_<arch>.deb from the build's install rules; lintian finds no
# error in it; unpacked into an empty root, its program starts, gives a new
# user the demo kit in the user's own data folder (nothing written beside the
# program) and plays a key of it on the null output.
#   package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps zip python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)"; exit 1; }
done
work=$(mktemp -d /tmp/rb-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$work/out/rimbal2_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

control=$(dpkg-deb -f "$deb")
for dep in libqt6widgets6 librtaudio6 libsndfile1 libzip4 qt6-qpa-plugins; do
  grep -q "^Depends:.*$dep" <<<"$control" || fail "Depends lacks $dep"
done
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
  if grep -q '^E:' "$work/lintian.log"; then fail "lintian errors:"; grep '^E:' "$work/lintian.log"; fi
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/rimbal2 usr/lib/rimbal2/librbcore.so usr/lib/rimbal2/rimbal2.installed usr/lib/rimbal2/plugins \
  "usr/lib/rimbal2/Pacotes/Rimbal Demo/Keys.txt" usr/share/applications/rimbal2.desktop \
  usr/share/mime/packages/rimbal2.xml usr/share/icons/hicolor/48x48/apps/rimbal2.png \
  usr/share/doc/rimbal2/copyright usr/share/man/man1/rimbal2.1.gz; do
  [ -e "$root/$f" ] || fail "the package lacks $f"
done

# A user of the installed program: its own home, no display, the program
# folder read-only as under /usr.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"
chmod -R a-w "$root/usr"
out=$(env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/rimbal2" --version)
[ "$(head -n 1 <<<"$out")" = "Rimbal 2 $version" ] || fail "--version said: $out"

# One key of the demo kit: B, the kick.
printf '66*500*' >"$work/RBS.txt"
(cd "$work" && zip -q -P "Vazevaz Izize Vozo" kick.rbs RBS.txt)
env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/rimbal2" --render-sequence "$work/kick.rbs" \
  --output "$work/kick.wav" --package "Rimbal Demo" >"$work/render.log" 2>&1 || { cat "$work/render.log"; fail "render"; }
peak=$(python3 - "$work/kick.wav" <<'PY'
import sys, wave, struct
w = wave.open(sys.argv[1])
data = w.readframes(w.getnframes())
print(max(abs(v) for v in struct.unpack("<%dh" % (len(data) // 2), data)) if data else 0)
PY
) || peak=0
[ "$peak" -gt 3000 ] || fail "the kick is not heard (peak $peak)"
[ -f "$XDG_DATA_HOME/rimbal2/Pacotes/Rimbal Demo/bumbo.wav" ] || fail "the user got no copy of the demo kit"
chmod -R u+w "$root/usr"
extra=$(cd "$root/usr/lib/rimbal2" && find . -newer "$work/out" -not -path . -print)
[ -z "$extra" ] || fail "written beside the installed program: $extra"

if [ "$failed" -eq 0 ]; then echo "the package passes"; else exit 1; fi
