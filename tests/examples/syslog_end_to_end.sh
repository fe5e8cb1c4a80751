#!/usr/bin/env bash
# examples/syslog against a real rsyslogd, started here in the foreground with a
# configuration of its own (TCP input on a free loopback port, file output) and
# stopped here, whatever happens. The log goes through the example with
# quillharbor-replay; every received payload must equal what examples/jsonl
# writes for the same record.
#   1. no outage: every request arrives once, intact, in order;
#   2. the collector stopped for a few seconds mid-run, with a large buffer:
#      nothing is lost;
#   3. the same with a small buffer: the requests missing are exactly the
#      count that the "dropped" messages and the trace lines report.
# Usage: syslog_end_to_end.sh REPLAY MODULE EXAMPLES_DIR SAMPLE_LOG_PROGRAM
#          [--wine WINE REPLAY_EXE INSTALLED_DIR]   (only run 1, under Wine)
set -euo pipefail

replay=$1 module=$2 examples=$3 sample_log=$4
shift 4
wine= win_replay= installed=
if [ "${1:-}" = --wine ]; then wine=$2 win_replay=$3 installed=$4; fi

rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
[ -x "$rsyslogd" ] || { echo "syslog test: no rsyslogd (tools/setup.sh installs rsyslog)" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/quillharbor-syslog.XXXXXX")
collector_pid= replay_pid=
cleanup() {
  local status=$?
  [ -z "$replay_pid" ] || kill "$replay_pid" 2>/dev/null || true
  stop_collector
  if [ "$status" -ne 0 ]; then
    for f in "$dir"/rsyslogd.err "$dir"/*.replay.err; do
      [ -s "$f" ] && { echo "--- $f"; tail -20 "$f"; }
    done >&2
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "syslog test: $*" >&2; exit 1; }

port=0
start_collector() {
  rm -f "$dir/port"
  mkdir -p "$dir/work"
  cat >"$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir/work" maxMessageSize="64k")
# Every message is written before the next is read, so that what the collector
# took from the connection is in the file when it is stopped.
main_queue(queue.type="Direct")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="$port" listenPortFileName="$dir/port")
template(name="fields" type="string"
         string="%pri% %hostname% %app-name% %procid% %msgid% %structured-data% %msg%\n")
action(type="omfile" file="$dir/out.log" template="fields")
CONF
  # Not holding the feeding pipe open, which would keep the replay waiting.
  "$rsyslogd" -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" >>"$dir/rsyslogd.err" 2>&1 3>&- &
  collector_pid=$!
  # With port 0 it writes the port it took; a given port is probed.
  for _ in $(seq 100); do
    if [ "$port" -eq 0 ]; then
      [ -s "$dir/port" ] && break
    elif (exec 4<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      break
    fi
    kill -0 "$collector_pid" 2>/dev/null || fail "rsyslogd did not start"
    sleep 0.05
  done
  [ "$port" -ne 0 ] || port=$(cat "$dir/port" 2>/dev/null || echo 0)
  [ "$port" -ne 0 ] || fail "rsyslogd does not listen"
}
stop_collector() {
  [ -n "$collector_pid" ] || return 0
  kill -TERM "$collector_pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$collector_pid" 2>/dev/null || break; sleep 0.05; done
  kill -KILL "$collector_pid" 2>/dev/null || true
  wait "$collector_pid" 2>/dev/null || true
  collector_pid=
}
lines_out() { [ -f "$dir/out.log" ] && wc -l <"$dir/out.log" || echo 0; }
# Waits until the collector has written at least $1 lines and then nothing more
# for half a second (10 s at most): it has then taken all that was sent.
wait_written() {
  local seen=-1 still=0 now
  for _ in $(seq 100); do
    sleep 0.1
    now=$(lines_out)
    if [ "$now" -eq "$seen" ]; then still=$((still + 1)); else still=0; fi
    [ "$now" -ge "$1" ] && [ "$still" -ge 5 ] && return 0
    seen=$now
  done
}

# The log: requests that are hard to carry intact, then ordinary ones.
long=$(printf '/a%.0s' $(seq 900))
{
  echo "#Fields: date time cs-method cs-uri-stem cs-uri-query c-ip cs(User-Agent) cs(Referer) sc-status sc-win32-status sc-bytes cs-bytes time-taken"
  printf '2026-12-07 10:00:00 GET /caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac q=\xf0\x9f\x98\x80 192.0.2.1 Mozilla/5.0+("quoted")+\\back - 200 0 10 20 1\n'
  printf '2026-12-07 10:00:00 GET /latin1-\xe9\xff q="a"&b=\\ 192.0.2.2 curl/8 https://x/?q="a" 404 2 10 20 1\n'
  printf '2026-12-07 10:00:00 GET %s x=%s 192.0.2.3 - - 200 0 10 20 1\n' "$long" "$long"
  # Not UTF-8: a 5-byte form, an overlong "/", a surrogate, above U+10FFFF, a cut sequence.
  printf '2026-12-07 10:00:00 GET /\xf8\x88\x80\x80\x80/\xe0\x80\xaf/\xed\xa0\x80/\xf4\x90\x80\x80/\xe2\x82 - 192.0.2.4 - - 200 0 10 20 1\n'
  "$sample_log" --lines 2000 --seed 7 "$dir/sample.log"
  cat "$dir/sample.log"
} >"$dir/u_ex.log"
total=$(grep -vc '^#' "$dir/u_ex.log")

# The reference: examples/jsonl over the same log, without its clock field.
(cd "$dir" && "$replay" --module "$module" --threads 1 --quiet --no-progress \
  --script "$examples/jsonl/jsonl.lua" u_ex.log 2>jsonl.replay.err) || fail "the jsonl replay failed"
sed -E 's/,"logged":"[^"]*"//' "$dir"/requests.*.jsonl >"$dir/reference"
[ "$(wc -l <"$dir/reference")" -eq "$total" ] || fail "the reference has not $total lines"
iconv -f UTF-8 -t UTF-8 "$dir/reference" >/dev/null || fail "examples/jsonl wrote bytes that are not UTF-8"

# A copy of the example with some settings changed: NAME=VALUE ...
configure() {
  local from=$1 to=$2
  shift 2
  cp "$from" "$to"
  for setting in "$@"; do
    sed -i -E "s|^local ${setting%%=*} = [^-]*|local ${setting%%=*} = ${setting#*=} |" "$to"
    grep -q "^local ${setting%%=*} = ${setting#*=} " "$to" || fail "no setting ${setting%%=*} in $from"
  done
}

# Checks out.log against the reference: headers, every payload equal to the
# reference line of its record, record numbers rising. Prints how many
# requests arrived and how many the "dropped" messages reported.
check_output() {
  local host=$1
  awk -v host="$host" -v total="$total" '
    FNR == NR { reference[FNR - 1] = $0; next }
    {
      if (index($0, "134 " host " quillharbor - ") != 1) { print "bad header: " substr($0, 1, 80) > "/dev/stderr"; bad = 1; exit }
      split($0, h, " ")
      payload = substr($0, length(h[1] h[2] h[3] h[4] h[5] h[6]) + 7)
      if (h[5] == "dropped") {
        if (payload !~ /^\{"dropped":[0-9]+\}$/) { print "bad notice: " payload > "/dev/stderr"; bad = 1; exit }
        gsub(/[^0-9]/, "", payload); reported += payload; next
      }
      if (h[5] != "request" || h[6] != "-") { print "bad header: " substr($0, 1, 80) > "/dev/stderr"; bad = 1; exit }
      if (!match(payload, /^\{"n":[0-9]+,/)) { print "no record number: " substr(payload, 1, 80) > "/dev/stderr"; bad = 1; exit }
      n = substr(payload, 6, RLENGTH - 6) + 0
      if (n <= last && arrived) { print "record " n " after " last > "/dev/stderr"; bad = 1; exit }
      if (payload != reference[n]) { print "record " n " differs:\n  got  " payload "\n  want " reference[n] > "/dev/stderr"; bad = 1; exit }
      last = n; arrived++
    }
    END { if (!bad) print arrived + 0, reported + 0; exit bad }
  ' "$dir/reference" "$dir/out.log"
  iconv -f UTF-8 -t UTF-8 "$dir/out.log" >/dev/null || fail "the collector got bytes that are not UTF-8"
}
trace_reported() {
  sed -nE 's/.*syslog\.lua: dropped ([0-9]+) messages.*/\1/p' "$1" | awk '{ s += $1 } END { print s + 0 }'
}

start_collector
hostname=quillharbor-test-host

if [ -n "$wine" ]; then
  # The installed folder, as on a server; LuaSocket comes from its lua\ folder.
  winpath() { printf 'Z:%s' "${1//\//\\}"; }
  configure "$installed/examples/syslog/syslog.lua" "$installed/examples/syslog/e2e.lua" \
    "COLLECTOR_PORT=$port" "HOSTNAME=\"$hostname\"" "BATCH_SIZE=50"
  cat >"$installed/quillharbor.setting" <<SETTING
<setting>
  <queue process_interval="0"/>
  <script path="$(winpath "$installed/examples/syslog/e2e.lua")" pool_size="2"/>
</setting>
SETTING
  (cd "$dir" && "$wine" "$win_replay" --threads 1 --no-progress --module "$(winpath "$installed/quillharbor.dll")" \
    "$(winpath "$dir/u_ex.log")" 2>windows.replay.err) || fail "the replay under Wine failed"
  wait_written "$total"
  stop_collector
  check_output "$hostname" >"$dir/counts"
  read -r arrived reported <"$dir/counts"
  [ "$arrived" -eq "$total" ] || fail "under Wine $arrived of $total requests arrived"
  echo "syslog test: under Wine, $total requests arrived once, intact, in order"
  exit 0
fi

# 1. No outage, the machine's own name.
configure "$examples/syslog/syslog.lua" "$dir/syslog.lua" "COLLECTOR_PORT=$port"
(cd "$dir" && "$replay" --module "$module" --threads 1 --no-progress \
  --script "$dir/syslog.lua" u_ex.log 2>plain.replay.err) || fail "the replay failed"
wait_written "$total"
stop_collector
check_output "$(sed -E 's/[^!-~]/_/g' <<<"$(hostname)")" >"$dir/counts"
read -r arrived reported <"$dir/counts"
[ "$arrived" -eq "$total" ] && [ "$reported" -eq 0 ] ||
  fail "without an outage $arrived of $total requests arrived ($reported reported dropped)"
grep -q 'syslog.lua: dropped' "$dir/plain.replay.err" && fail "drops reported without an outage"
echo "syslog test: without an outage, $total requests arrived once, intact, in order"

# 2 and 3. The collector stopped while a third of the log goes through.
outage_run() {
  local name=$1 buffer=$2
  rm -f "$dir/out.log"
  port=0
  start_collector
  configure "$dir/syslog.lua" "$dir/$name.lua" "COLLECTOR_PORT=$port" "HOSTNAME=\"$hostname\"" \
    "BATCH_SIZE=50" "BATCH_AGE_MS=100" "MAX_BUFFERED=$buffer" "TERM_TIMEOUT=10"
  sed -i -E 's|^local BACKOFF_MIN, BACKOFF_MAX = .*|local BACKOFF_MIN, BACKOFF_MAX = 0.1, 0.2|' "$dir/$name.lua"
  mkfifo "$dir/$name.fifo"
  (cd "$dir" && exec "$replay" --module "$module" --threads 1 --no-progress --format w3c \
    --script "$dir/$name.lua" - <"$name.fifo" 2>"$name.replay.err") &
  replay_pid=$!
  exec 3>"$dir/$name.fifo"
  local lines third
  lines=$(wc -l <"$dir/u_ex.log")
  third=$((lines / 3))
  head -n "$third" "$dir/u_ex.log" >&3
  # Stopped once it has written all that it was sent, when nothing is in
  # flight: a message sent into a connection that the collector is closing
  # may be lost without being counted (see the example's notes).
  wait_written $(($(head -n "$third" "$dir/u_ex.log" | grep -vc '^#') - 50))
  stop_collector
  sed -n "$((third + 1)),$((2 * third))p" "$dir/u_ex.log" >&3
  sleep 2
  start_collector_on "$port"
  tail -n +$((2 * third + 1)) "$dir/u_ex.log" >&3
  exec 3>&-
  wait "$replay_pid" || fail "the $name replay failed"
  replay_pid=
  wait_written 1
  stop_collector
  check_output "$hostname" >"$dir/counts"
  read -r arrived reported <"$dir/counts"
  local traced
  traced=$(trace_reported "$dir/$name.replay.err")
  echo "syslog test: collector stopped, buffer $buffer: $arrived of $total arrived, $reported reported dropped, $traced in trace lines"
  [ $((arrived + reported)) -eq "$total" ] || fail "$((total - arrived)) requests missing, $reported reported"
  [ "$traced" -eq "$reported" ] || fail "the trace lines report $traced, the collector got $reported"
}
start_collector_on() { port=$1; start_collector; }

outage_run large 100000
[ "$arrived" -eq "$total" ] || fail "with a large buffer $((total - arrived)) requests were lost"
outage_run small 100
[ "$reported" -gt 0 ] || fail "with a small buffer nothing was dropped"
