#!/usr/bin/env bash
# Runs the packaged glimmer-show user unit under a real systemd user manager
# and prints what happened. Not part of CI: it takes minutes of real time.
#
#   sudo scripts/service-demo.sh hang    a show stopped with SIGSTOP is killed by
#                                        the watchdog and started again; the new
#                                        start tells the alert command "restarted"
#   sudo scripts/service-demo.sh night   a window opening in 11 minutes with the
#                                        adapter unplugged: "check-failed" ten
#                                        minutes before it, "missed-start" a minute
#                                        after it opens (about 13 minutes)
#
# Needs root for the parts a login would set up: a cgroup handed to the user, a
# private mount namespace in which /run/systemd/system exists (the user manager
# refuses to start on a machine not booted with systemd, and nothing outside
# the namespace should believe that), and /dev/console bound to a file so the
# manager's own messages can be read. The manager itself, the show and the
# alert command run as DEMO_USER (default nobody), with their own
# XDG_RUNTIME_DIR; systemctl talks to the manager over its private socket.
#
# Environment: GLIMMER (default build/bin/glimmer), DEMO_DIR (default
# /tmp/glimmer-service-demo-MODE), DEMO_USER, WATCHDOG_SEC (default 5).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MODE="${1:-}"
case "$MODE" in hang | night) ;; *) echo "usage: $0 hang|night" >&2; exit 2 ;; esac
[ "$(id -u)" = 0 ] || { echo "$0: run as root (see the comment at the top)" >&2; exit 2; }

GLIMMER="$(realpath "${GLIMMER:-$ROOT/build/bin/glimmer}")"
DEMO="${DEMO_DIR:-/tmp/glimmer-service-demo-$MODE}"
DEMO_USER="${DEMO_USER:-nobody}"
WATCHDOG_SEC="${WATCHDOG_SEC:-5}"
SYSTEMD=/lib/systemd/systemd
CGROUP="glimmer-service-demo-$MODE"
U_ID="$(id -u "$DEMO_USER")"
G_ID="$(id -g "$DEMO_USER")"
PY=/usr/bin/python3

started="$(date +%s)"
say() { printf '[%4ss] %s\n' "$(($(date +%s) - started))" "$*"; }
show_cmd() { printf '$ %s\n' "$*"; }

rm -rf "$DEMO"
mkdir -p "$DEMO"/{run,home,config/systemd/user/glimmer-show.service.d,show/dosdevices,by-id}
chmod 700 "$DEMO/run"
: >"$DEMO/alerts.txt"
: >"$DEMO/manager.log"
: >"$DEMO/show.out"

as_user() {
  setpriv --reuid="$U_ID" --regid="$G_ID" --clear-groups \
    env -i HOME="$DEMO/home" XDG_RUNTIME_DIR="$DEMO/run" XDG_CONFIG_HOME="$DEMO/config" \
    PATH=/usr/local/bin:/usr/bin:/bin "$@"
}
sc() { as_user systemctl --user --no-pager "$@"; }

# The show's folder: the demo's song and sequence as the playlist.
"$GLIMMER" demo --silent --seconds 20 --folder "$DEMO/show" >/dev/null
rm -rf "$DEMO/show/Temp"

# The alert command: one line per alert, with the time it came.
cat >"$DEMO/tell-me" <<EOF
#!/bin/sh
echo "\$(date -u +%H:%M:%S) \$1: \$2" >>"$DEMO/alerts.txt"
EOF
chmod 755 "$DEMO/tell-me"
printf '[alerts]\ncommand = "%s"\n' "$DEMO/tell-me" >"$DEMO/show/settings.toml"

# The adapter: a pseudo-terminal behind a stable name, as udev makes them,
# and COM1 pinned to that name. Unplugging removes the stable name.
ADAPTER="$DEMO/by-id/usb-Glimmer_Demo_Adapter-if00-port0"
ln -s "$ADAPTER" "$DEMO/show/dosdevices/com1"
"$PY" - "$ADAPTER" "$U_ID" "$G_ID" <<'EOF' &
import fcntl, os, select, sys, termios, time
link, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
master, slave = os.openpty()
name = os.ttyname(slave)
os.chown(name, uid, gid)
os.symlink(name, link)
os.close(slave)
while True:
    select.select([master], [], [])
    try:
        os.read(master, 65536)  # what the controllers would have heard
    except OSError:
        # Nobody has the line open. A USB adapter forgets an exclusive open
        # with its last descriptor; a pseudo-terminal keeps it while this end
        # lives, so a show that was killed would lock out the next one.
        try:
            fd = os.open(name, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            fcntl.ioctl(fd, termios.TIOCNXCL)
            os.close(fd)
        except OSError:
            pass
        time.sleep(0.2)
EOF
LINE_PID=$!

# A daily window: the whole day for the hang, or one opening in 11 minutes.
if [ "$MODE" = hang ]; then
  opens="12:00:00 AM"
  closes="11:59:59 PM"
else
  # The window's times are quarter hours, as the window's lists offer them:
  # the first one at least 11 minutes ahead, so that the show is up before
  # the check is due.
  opens_at=$(((started + 11 * 60 + 899) / 900 * 900))
  opens="$(date -d "@$opens_at" '+%-I:%M:%S %p')"
  closes="$(date -d "@$((opens_at + 30 * 60))" '+%-I:%M:%S %p')"
fi
printf '1\r\n115200\r\n5\r\n%s\r\n%s\r\n0\r\nc:\\\r\n' "$opens" "$closes" >"$DEMO/show/preferences.txt"
chown -R "$U_ID:$G_ID" "$DEMO"

# The packaged unit as it is, and a drop-in for this machine: the program
# from the build tree, the demo's folder, no sound card, a short watchdog and
# a short pause before a restart so the demo does not take minutes.
cp "$ROOT/packaging/glimmer-show.service" "$DEMO/config/systemd/user/"
cat >"$DEMO/config/systemd/user/glimmer-show.service.d/demo.conf" <<EOF
[Service]
ExecStart=
ExecStart=$GLIMMER show --dir $DEMO/show --silent --wait-for-devices 10
WatchdogSec=$WATCHDOG_SEC
RestartSec=2
StandardOutput=append:$DEMO/show.out
StandardError=append:$DEMO/show.out
EOF
chown -R "$U_ID:$G_ID" "$DEMO"

# The manager, as the user, in a cgroup of its own.
for h in systemd unified; do
  mkdir -p "/sys/fs/cgroup/$h/$CGROUP"
  chown -R "$U_ID:$G_ID" "/sys/fs/cgroup/$h/$CGROUP"
done
unshare --mount --propagation private sh -c '
  set -e
  mount -t tmpfs -o mode=755 tmpfs /run/systemd
  mkdir /run/systemd/system
  mount --bind "$1/manager.log" /dev/console
  echo $$ >"/sys/fs/cgroup/systemd/$2/cgroup.procs"
  echo $$ >"/sys/fs/cgroup/unified/$2/cgroup.procs"
  exec setpriv --reuid="$3" --regid="$4" --clear-groups env -i HOME="$1/home" \
    XDG_RUNTIME_DIR="$1/run" XDG_CONFIG_HOME="$1/config" PATH=/usr/local/bin:/usr/bin:/bin \
    "$5" --user --log-target=console --log-level=info' \
  sh "$DEMO" "$CGROUP" "$U_ID" "$G_ID" "$SYSTEMD" </dev/null >>"$DEMO/manager.log" 2>&1 &
MANAGER_PID=$!

finish() {
  sc stop glimmer-show >/dev/null 2>&1 || true
  kill "$MANAGER_PID" 2>/dev/null || true
  kill "$LINE_PID" 2>/dev/null || true
  wait "$MANAGER_PID" 2>/dev/null || true
  for h in systemd unified; do
    find "/sys/fs/cgroup/$h/$CGROUP" -depth -type d -exec rmdir {} + 2>/dev/null || true
  done
}
trap finish EXIT

# (systemctl is-system-running would say "offline": it looks for
# /run/systemd/system outside the namespace.)
for _ in $(seq 50); do
  state="$(sc show -p SystemState --value 2>/dev/null || true)"
  case "$state" in running | degraded) break ;; esac
  sleep 0.2
done
say "user manager up (pid $MANAGER_PID, $("$SYSTEMD" --version | head -n 1)), state: $state"

main_pid() { sc show -p MainPID --value glimmer-show; }
restarts() { sc show -p NRestarts --value glimmer-show; }
status() {
  show_cmd systemctl --user status glimmer-show
  sc status glimmer-show | sed -n '1,/CGroup/p' || true
}

show_cmd systemctl --user daemon-reload
sc daemon-reload
show_cmd systemctl --user cat glimmer-show
sc cat glimmer-show | grep -v '^#' | grep -v '^$'
show_cmd systemctl --user start glimmer-show
sc start glimmer-show
say "started: MainPID $(main_pid), NRestarts $(restarts)"
status

if [ "$MODE" = hang ]; then
  sleep 3
  pid="$(main_pid)"
  show_cmd kill -STOP "$pid"
  kill -STOP "$pid"
  say "show $pid stopped: its loop pings no more"
  # Every change of the unit's state on the way, as the manager reports it.
  last=""
  for _ in $(seq 120); do
    state="$(sc show -p ActiveState -p SubState -p Result -p MainPID -p NRestarts glimmer-show |
      sort | tr '\n' ' ')"
    [ "$state" = "$last" ] || say "$state"
    last="$state"
    now="$(main_pid)"
    if [ "$now" != 0 ] && [ "$now" != "$pid" ] &&
       [ "$(sc show -p ActiveState --value glimmer-show)" = active ]; then break; fi
    sleep 0.2
  done
  say "MainPID now $(main_pid), NRestarts $(restarts)"
  status
  # The alert command runs in the background of the new show.
  for _ in $(seq 20); do grep -q restarted "$DEMO/alerts.txt" && break; sleep 0.5; done
else
  sleep 5
  show_cmd rm "$ADAPTER" "   # the adapter is unplugged"
  rm "$ADAPTER"
  say "adapter unplugged; the window opens at $opens"
  # Until a minute and a half after the window opened.
  until [ "$(date +%s)" -ge $((opens_at + 90)) ]; do sleep 5; done
  status
fi

echo
echo "== the show's log ($DEMO/show/show.log)"
cat "$DEMO/show/show.log"
echo "== the alert command was told ($DEMO/alerts.txt)"
cat "$DEMO/alerts.txt"
