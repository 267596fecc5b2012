#!/usr/bin/env bash
# The real program under Xvfb: real X key presses (XTEST) must reach the
# PulseAudio null sink's monitor as sound, and light the program's status.
# Needs the test script's PulseAudio server (RB_PULSE_MONITOR); skipped without it.
set -euo pipefail
bin=$1
if [ -z "${RB_PULSE_MONITOR:-}" ]; then echo "no PulseAudio null sink: skipped"; exit 77; fi
for tool in Xvfb xdotool parecord python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done

work=$(mktemp -d /tmp/rb-e2e.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; [ -n "${RB_KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT

cp -r "$bin/rimbal2" "$bin/librbcore.so" "$bin/plugins" "$work/"
mkdir -p "$work/Pacotes/Teste"
python3 - "$work/Pacotes/Teste" <<'PY'
import math, struct, sys, wave
folder = sys.argv[1]
w = wave.open(folder + '/tom.wav', 'wb'); w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
w.writeframes(b''.join(struct.pack('<h', int(20000 * math.sin(2 * math.pi * 660 * t / 44100))) for t in range(44100 // 2)))
w.close()
with open(folder + '/Keys.txt', 'wb') as f:
    f.write(b'65*0*0*0*0*1,00*' + b'0*' * 16 + b'tom.wav\r\n')
PY

# The devices as the engine lists them, so the stored choice is usable; no banner download.
counts=$("$bin/rbdemo" 2>/dev/null | sed -n 's/^Saída 0: PulseAudio (\([0-9]*\) de reprodução, \([0-9]*\) de gravação)$/\1 \2/p')
read -r nplay nrec <<<"$counts"
play=$("$bin/rbdemo" 2>/dev/null | grep -n '^   reprodução' | grep -m1 'Null Output' | sed 's/.*reprodução \([0-9]*\):.*/\1/')
printf '[Config]\r\nDriver_Playback_Count=%s\r\nDriver_Record_Count=%s\r\nID_Driver_Output=0\r\nID_Driver_Playback=%s\r\nID_Driver_Record=0\r\nPackName=Teste\r\nBannerSite=\r\n' \
  "$nplay" "$nrec" "${play:-0}" > "$work/rimbal2.ini"

# Xvfb picks a free display itself and names it once it accepts clients: a
# display guessed at random may belong to another test on this machine.
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
# A real X window, whatever the other tests use.
export QT_QPA_PLATFORM=xcb

(cd "$work" && exec ./rimbal2) >"$work/out.log" 2>&1 &
pids+=($!)
win=""
for _ in $(seq 1 600); do
  win=$(xdotool search --name '^Rimbal 2\.0$' 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the main window did not appear"; cat "$work/out.log"; exit 1; }
sleep 1.5
xdotool windowfocus --sync "$win"

parecord --latency-msec=20 -d "$RB_PULSE_MONITOR" --raw --format=s16le --rate=48000 --channels=1 "$work/heard.raw" &
rec=$!
pids+=($rec)
sleep 1.5
for _ in 1 2 3; do xdotool key a; sleep 0.4; done
[ -n "${RB_KEEP:-}" ] && import -window root "$work/shot.png"
sleep 2.5
kill "$rec"; wait "$rec" 2>/dev/null || true

python3 - "$work/heard.raw" <<'PY'
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
n = len(data) // 2
x = struct.unpack('<%dh' % n, data[:2 * n])
def tone(seg, hz=660.0, rate=48000):
    re = sum(v * math.cos(2 * math.pi * hz * i / rate) for i, v in enumerate(seg))
    im = sum(v * math.sin(2 * math.pi * hz * i / rate) for i, v in enumerate(seg))
    return 2 * math.hypot(re, im) / len(seg) / 32768
levels = [tone(x[i:i + 2400]) for i in range(0, len(x) - 2400, 2400)]
best = max(levels) if levels else 0
print('recorded %.2f s, loudest 660 Hz level %.3f' % (n / 48000, best))
sys.exit(0 if best > 0.2 else 1)
PY
echo "the key presses were heard"
