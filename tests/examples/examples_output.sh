#!/usr/bin/env bash
# The examples that write files (jsonl, slow_requests, summary with a REPORT
# file) over one fixed log:
#   1. one replay: the output is byte for byte what these examples have always
#      written (the digests below; URLs and users come from the UNICODE_
#      variables, which carry a log's Latin-1 bytes as the characters they
#      are), the clock fields aside (jsonl's "logged", slow_requests' first
#      column) and CR before LF under Windows;
#   2. two replays at once in one folder, as two worker processes: each writes
#      a file of its own, named with its process identifier, and each file is
#      whole: equal to the one-replay output.
# Usage: examples_output.sh REPLAY MODULE EXAMPLES_DIR SAMPLE_LOG_PROGRAM
#          [--wine WINE REPLAY_EXE INSTALLED_DIR]
set -euo pipefail

replay=$1 module=$2 examples=$3 sample_log=$4
shift 4
wine= win_replay= installed=
if [ "${1:-}" = --wine ]; then wine=$2 win_replay=$3 installed=$4; fi

declare -A digest=(
  [jsonl]=d1eb3f7cac4a854bb15983b9d26ad59f5785212339b90e1812ec8fd919981e7c
  [slow_requests]=e9858aaf772ccd7f8dccdd3cf0691a7f22fbf0936a6513c87e6b12d4c925a6b8
  [summary]=489a91cfb759f2744461b3446111ae54657a2add825df84ea11a5b1247c98395
)
declare -A pattern=([jsonl]='requests.*.jsonl' [slow_requests]='slow_requests.*.log' [summary]='summary.*.txt')

dir=$(mktemp -d "${TMPDIR:-/tmp}/quillharbor-examples.XXXXXX")
trap 'rm -rf "$dir"' EXIT
fail() { echo "examples test: $*" >&2; exit 1; }

# Values that are hard to carry intact, then ordinary requests, some slow.
{
  echo "#Fields: date time cs-method cs-uri-stem cs-uri-query c-ip cs(User-Agent) cs(Referer) sc-status sc-win32-status sc-bytes cs-bytes time-taken"
  printf '2026-12-07 10:00:00 GET /caf\xc3\xa9/\xe6\x97\xa5 q=\xf0\x9f\x98\x80"\x01\x7f 192.0.2.1 Mozilla/5.0+("quoted")+\\back - 200 0 10 20 1500\n'
  printf '2026-12-07 10:00:00 GET /latin1-\xe9\xff/\xe0\x80\xaf/\xed\xa0\x80/\xf4\x90\x80\x80/\xe2\x82 q="a"&b=\\ 192.0.2.2 curl/8 https://x/?q="a" 404 2 10 20 2500\n'
  "$sample_log" --lines 3000 --seed 7 "$dir/sample.log"
  cat "$dir/sample.log"
} >"$dir/u_ex.log"

# A copy of an example writing its report to a file.
script_for() {
  local name=$1 to=$2
  sed -E 's|^local REPORT = "-"|local REPORT = "summary.txt"|' "$examples/$name/$name.lua" >"$to"
}
# Replays the log through example $1 in folder $2, in the background.
start_replay() {
  local name=$1 work=$2
  mkdir -p "$work"
  if [ -n "$wine" ]; then
    (cd "$work" && exec "$wine" "$win_replay" --threads 1 --quiet --no-progress \
      --module "Z:${installed//\//\\}\\quillharbor.dll" "Z:${dir//\//\\}\\u_ex.log" >replay.out 2>&1) &
  else
    (cd "$work" && exec "$replay" --module "$module" --threads 1 --quiet --no-progress \
      --script "$dir/$name.lua" "$dir/u_ex.log" >replay.out 2>&1) &
  fi
}
comparable() {
  case $1 in
    jsonl) tr -d '\r' <"$2" | sed -E 's/,"logged":"[^"]*"//' ;;
    slow_requests) tr -d '\r' <"$2" | cut -d' ' -f2- ;;
    summary) tr -d '\r' <"$2" ;;
  esac
}

for name in jsonl slow_requests summary; do
  script_for "$name" "$dir/$name.lua"
  if [ -n "$wine" ]; then
    script_for "$name" "$installed/examples/$name/e2e.lua"
    cat >"$installed/quillharbor.setting" <<SETTING
<setting>
  <queue process_interval="0"/>
  <script path="Z:${installed//\//\\}\\examples\\$name\\e2e.lua" pool_size="2"/>
</setting>
SETTING
  fi

  start_replay "$name" "$dir/one/$name"
  wait $! || fail "the $name replay failed: $(tail -n 5 "$dir/one/$name/replay.out")"
  files=("$dir/one/$name"/${pattern[$name]})
  [ "${#files[@]}" -eq 1 ] && [ -f "${files[0]}" ] || fail "$name wrote ${files[*]}, not one file"
  comparable "$name" "${files[0]}" >"$dir/$name.reference"
  got=$(sha256sum <"$dir/$name.reference" | cut -d' ' -f1)
  [ "$got" = "${digest[$name]}" ] || fail "$name wrote other bytes than before (sha256 $got)"

  start_replay "$name" "$dir/two/$name"
  first=$!
  start_replay "$name" "$dir/two/$name"
  wait "$first" || fail "a $name replay of two failed"
  wait $! || fail "a $name replay of two failed"
  files=("$dir/two/$name"/${pattern[$name]})
  [ "${#files[@]}" -eq 2 ] || fail "two $name processes wrote ${#files[@]} files: ${files[*]}"
  for f in "${files[@]}"; do
    comparable "$name" "$f" | cmp -s - "$dir/$name.reference" || fail "$f is not whole"
  done
  echo "examples test: $name writes the same bytes as before, and one whole file per process"
done
