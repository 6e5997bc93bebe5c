#!/usr/bin/env bash
# Starts the Velvanet console on the embedded SQLite database: installs what
# is missing, builds, gives the program folder (build/) its conf/ and its
# database when they are missing, and runs build/velvanet.
# With a display the console opens there. Without one (a server reached over
# SSH) it runs on a virtual display (Xvfb) served by a VNC server that
# listens on 127.0.0.1 only, and this script prints how to reach it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target velvanet

PROGRAM_DIR="$ROOT/build"
mkdir -p "$PROGRAM_DIR/conf"
if [ ! -f "$PROGRAM_DIR/conf/system.ini" ]; then
  cat > "$PROGRAM_DIR/conf/system.ini" <<'INI'
[DBCONF]
DB_OPTION=0
[IXO_SETUP]
HOST=
PORT=0
KEY=
[START_OPTION]
AUTO_FORWARD=0
INI
  echo "run: created $PROGRAM_DIR/conf/system.ini (set the Ixo server under IXO_SETUP)"
fi
bash scripts/make_db.sh "$PROGRAM_DIR"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$PROGRAM_DIR/velvanet"
fi

# No display: a virtual one, and a VNC server on the loopback address only.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "run: no free X display number" >&2; exit 1; }
port=""
for p in $(seq 5900 5999); do
  if ! ss -Hltn "sport = :$p" | grep -q .; then port=$p; break; fi
done
[ -n "$port" ] || { echo "run: no free VNC port" >&2; exit 1; }

RUNDIR="$(mktemp -d /tmp/velvanet-vnc.XXXXXX)"
cleanup() {
  [ -n "${VNC_PID:-}" ] && kill "$VNC_PID" 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$RUNDIR"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >"$RUNDIR/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

# A fresh password for this run, readable by this user only.
password="$(head -c 12 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 8)"
x11vnc -storepasswd "$password" "$RUNDIR/passwd" >/dev/null 2>&1
chmod 600 "$RUNDIR/passwd"
x11vnc -display "$display" -localhost -noipv6 -rfbport "$port" -rfbauth "$RUNDIR/passwd" -forever -shared -quiet \
  -o "$RUNDIR/x11vnc.log" >/dev/null &
VNC_PID=$!

host="$(hostname -f 2>/dev/null || hostname)"
cat <<MSG
run: no display here; the console runs on the virtual display $display.
run: its VNC server listens on 127.0.0.1:$port only. From your own machine:
       ssh -N -L $port:127.0.0.1:$port $(id -un)@$host
     then point a VNC viewer at localhost:$port (password: $password).
run: stop with Ctrl+C here, or close the console.
MSG
DISPLAY="$display" "$PROGRAM_DIR/velvanet"
