#!/bin/sh
# Runs a test alone among the machine's processes: in a process namespace of its own, with a /proc
# of its own, so that no process of another program named like the game server reaches what the
# checker it runs sees. Where the system grants no such namespace (a user without root's powers),
# the test runs as it is, and says so: its results may then depend on the machine's processes.
if unshare --pid --fork --mount-proc --kill-child true 2>/dev/null; then
  exec unshare --pid --fork --mount-proc --kill-child "$@"
fi
echo "alone.sh: no process namespace of its own here; the test sees the machine's processes" >&2
exec "$@"
