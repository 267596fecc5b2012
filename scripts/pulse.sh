#!/usr/bin/env bash
# Sourced by the test script: makes sure a PulseAudio server with a null sink
# runs, starting one when none does. pulse_stop stops only what was started here.
RB_PULSE_STARTED=""

pulse_start() {
  if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
    export XDG_RUNTIME_DIR
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/rb-runtime.XXXXXX)
    chmod 700 "$XDG_RUNTIME_DIR"
  fi
  if ! pactl info >/dev/null 2>&1; then
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disable-shm=yes --log-target=stderr \
      -L module-native-protocol-unix -L "module-null-sink sink_name=rb_null" >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do
      pactl info >/dev/null 2>&1 && break
      sleep 0.1
    done
    if ! pactl info >/dev/null 2>&1; then
      echo "Não foi possível iniciar o PulseAudio." >&2
      return 1
    fi
    RB_PULSE_STARTED=1
  fi
  if ! pactl list short sinks | grep -q rb_null; then
    pactl load-module module-null-sink sink_name=rb_null >/dev/null
  fi
  pactl set-default-sink rb_null
  pactl set-default-source rb_null.monitor
  export RB_PULSE_MONITOR=rb_null.monitor
}

pulse_stop() {
  if [ -n "$RB_PULSE_STARTED" ]; then
    pactl exit >/dev/null 2>&1 || pulseaudio --kill >/dev/null 2>&1 || true
  fi
}
