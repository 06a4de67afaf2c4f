#!/usr/bin/env bash
# korvel-sim as a test harness uses it: READY handshake, a request on the printed path, control
# commands answered with OK/ERR, end of input stops it.
set -euo pipefail
sim="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --help | grep -q -- "--fault SPEC" || fail "--help"
if "$sim" --module 100 >/dev/null 2>&1; then fail "station 100 accepted"; fi
if "$sim" --bogus >/dev/null 2>&1; then fail "unknown option accepted"; fi

coproc SIM { "$sim" --test-line --module 5:PLNE:pv=7.25,alarm=2 --control; }
# bash unsets SIM_PID as soon as the coprocess ends, so keep the number for the final wait.
sim_pid=$SIM_PID
read -r -t 10 word path <&"${SIM[0]}" || fail "no handshake"
[ "$word" = READY ] || fail "handshake was '$word $path'"
[ -e "$path" ] || fail "no device at $path"

exec 3<>"$path"
stty -F "$path" raw -echo
# bash's own read changes a terminal's modes, so answers are read with dd, byte-exact.
ask() {  # request text (with its check characters), expected answer without its CR
  printf '%s\r' "$1" >&3
  local got
  got=$(timeout 5 dd bs=1 count=$((${#2} + 1)) status=none <&3) || fail "no answer to $1"
  [ "$got" = "$2"$'\r' ] || fail "answer to $1: '$got', wanted '$2'"
}
ask '#01HD' "=12.5AJE"
ask '#05HH' "=7.25BK@"  # "05=7.25B" sums to 0x2B0

control() {  # command -> first reply line
  echo "$1" >&"${SIM[1]}"
  read -r -t 5 reply <&"${SIM[0]}" || fail "no reply to $1"
}
control "fault 1:refuse,times=1"; [ "$reply" = OK ] || fail "fault: $reply"
ask '#01HD' "?J@"
ask '#01HD' "=12.5AJE"
control "fault 42:silent"; [[ "$reply" == ERR* ]] || fail "fault on an unconfigured station: $reply"
control "module 1:pv=3"; [ "$reply" = OK ] || fail "module: $reply"
ask '#01HD' "=3AAB"

# The wire log, then "OK".
echo log >&"${SIM[1]}"
seen=no
while read -r -t 5 entry <&"${SIM[0]}"; do
  [ "$entry" = OK ] && break
  [[ "$entry" == *"RX 1 #01HD\\r (pv)" ]] && seen=yes
done
[ "$seen" = yes ] || fail "log lacks the request"

# The line goes away and comes back under a new path, announced on stdout.
exec 3>&-
control "drop 50"; [ "$reply" = OK ] || fail "drop: $reply"
read -r -t 5 word path <&"${SIM[0]}" || fail "line did not come back"
[ "$word" = REOPENED ] || fail "after drop: '$word $path'"
exec 3<>"$path"
stty -F "$path" raw -echo
ask '#01HD' "=3AAB"
exec 3>&-

echo quit >&"${SIM[1]}"
wait "$sim_pid" || fail "exit status"
echo "program test passed"
