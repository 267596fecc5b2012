#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then
# the engine tests again under the address and undefined-behaviour sanitizers,
# and a third time under the thread sanitizer; last, every fuzz target for a
# short fixed time.
# A PulseAudio server with a null sink is started for the device tests when
# none is running, and stopped at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"

# shellcheck source=pulse.sh
source "$root/scripts/pulse.sh"
trap pulse_stop EXIT
pulse_start

export QT_QPA_PLATFORM=offscreen
# No JACK client may start a server of its own: the MIDI test runs a private
# one with the dummy backend, and nothing else may meet it or the sound card.
export JACK_NO_START_SERVER=1
"$root/scripts/build.sh" "$root/build"

# The engine again under the address and undefined-behaviour sanitizers.
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRB_SANITIZE=ON \
  -DRB_BUILD_APP=OFF -DRB_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$(nproc)" --target engine_tests

# And under the thread sanitizer, for the control and audio threads.
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRB_SANITIZE_THREAD=ON \
  -DRB_BUILD_APP=OFF -DRB_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$(nproc)" --target engine_tests

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
status=0
echo "== engine tests with sanitizers =="
"$root/build-asan/bin/engine_tests" --gtest_brief=1 || status=1
echo "== engine tests with the thread sanitizer =="
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp" \
  "$root/build-tsan/bin/engine_tests" --gtest_brief=1 || status=1
echo "== all tests =="
(cd "$root/build" && ctest --output-on-failure -j 2) || status=1
# Every parser of untrusted input under libFuzzer, briefly; a finding prints its input.
"$root/scripts/fuzz.sh" -t 20 || status=1
exit $status
