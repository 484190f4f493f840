#!/usr/bin/env bash
# An integration test of marluneTranslate against marluneEmulator, to copy and adapt.
#   examples/integration-test.sh [CLIENT [EMULATOR]]
# The programs' paths come from the arguments, else from $MARLUNE_TRANSLATE and
# $MARLUNE_EMULATOR, else the installed programs on PATH, else build/marluneTranslate and
# build/emulator/marluneEmulator (a checkout's build).
#
# The emulator follows scenario.json (beside this script):
#   file 101 succeeds at its third poll: its polls are answered processing, processing, success;
#   file 102 fails with the scenario's message at its first poll;
#   the commit of file 103 is refused with the scenario's code and message;
#   the second status request is dropped without an answer. Status requests are counted over
#   all files, and file 101 runs first: its second poll is dropped, the client sends it again
#   at once, and that request gets the second answer (a dropped request is no poll of the job).
# Then the script reads the emulator's journal of the requests it received. Between tests of
# your own, POST /__emulator/reset starts the counts and the journal again.
# Needs curl and jq; takes about 20 seconds (the client polls every 5).
# shellcheck disable=SC2016  # the $ in the single-quoted jq filters are jq's
set -euo pipefail

# The program named $1 on PATH, else $2.
installed_or() { command -v "$1" || echo "$2"; }
client=${1:-${MARLUNE_TRANSLATE:-$(installed_or marluneTranslate build/marluneTranslate)}}
emulator=${2:-${MARLUNE_EMULATOR:-$(installed_or marluneEmulator build/emulator/marluneEmulator)}}
scenario=$(cd "$(dirname "$0")" && pwd)/scenario.json

work=$(mktemp -d "${TMPDIR:-/tmp}/marlune-it.XXXXXX")
emulator_pid=""
cleanup() {
  if [ -n "$emulator_pid" ]; then
    kill "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "integration test FAILED: $*" >&2
  if [ -f "$work/emulator.log" ]; then echo "emulator log:" >&2; cat "$work/emulator.log" >&2; fi
  exit 1
}
# check WHAT FILE FILTER [JQ OPTIONS]: fails with WHAT unless FILTER yields true on FILE.
check() { jq -e "${@:4}" "$3" "$2" >/dev/null || fail "$1"; }

for tool in curl jq; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done

"$emulator" --port 0 --scenario "$scenario" --log "$work/emulator.log" >"$work/emulator.out" &
emulator_pid=$!
port=""
for _ in $(seq 50); do
  port=$(sed -n '1s/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/emulator.out")
  if [ -n "$port" ] || ! kill -0 "$emulator_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
[ -n "$port" ] || fail "the emulator did not start"
url=http://127.0.0.1:$port

# run_client CMDTYPE FILEID: a job for that file, its result in $work/result-FILEID.json.
run_client() {
  jq -n --arg cmdtype "$1" --argjson id "$2" --arg url "$url" --arg out "$work/result-$2.json" \
    '{cmdtype: $cmdtype, rooturl: $url, appkey: "demo-app-key", appsecret: "demo-app-secret",
      requestbody: {source: {fileId: $id}, targetLanguage: "de"}, output: $out, overtime: 60}' \
    >"$work/job-$2.json"
  "$client" -cfg "$work/job-$2.json" >"$work/client-$2.out" 2>&1 || {
    local status=$?
    cat "$work/client-$2.out" >&2
    fail "the client exited with status $status on file $2"
  }
}
run_client translatewaitfor 101
run_client waitfor 102    # a scripted job needs no commit
run_client translate 103

check "file 101 did not succeed" "$work/result-101.json" \
  '.code == "success" and .data.fileitemid == "101"'
check "file 102 did not fail with the scenario's message" "$work/result-102.json" \
  '.code == "failed" and .message == $s.jobs["102"][0].message' --argjson s "$(cat "$scenario")"
check "the commit of file 103 was not refused with the scenario's message" \
  "$work/result-103.json" '.code == "failed" and .message == $s.commits["103"].message' \
  --argjson s "$(cat "$scenario")"

curl -fsS "$url/__emulator/requests" >"$work/journal.json"
# expect_requests FILEID TEXT: the journalled requests about that file, each as
# "METHOD ANSWER NOTE", joined by "; ", are TEXT.
expect_requests() {
  local got
  got=$(jq -r --argjson id "$1" '[.[] | select(.target == "/translate?fileId=\($id)" or
      (.method == "PUT" and (.body | fromjson? | .source.fileId) == $id))
    | "\(.method) \(.answer) \(.note)"] | join("; ")' "$work/journal.json")
  [ "$got" = "$2" ] || fail "file $1: the journal has \"$got\", not \"$2\""
}
expect_requests 101 "PUT 200 job for file 101 started; GET 200 file 101 processing; \
GET dropped fault: drop; GET 200 file 101 processing; GET 200 file 101 success"
expect_requests 102 "GET 200 file 102 failed"
expect_requests 103 "PUT 200 commit for file 103 refused"
check "the client did not send the dropped poll again at once" "$work/journal.json" \
  '[.[] | select(.target == "/translate?fileId=101")] | .[2].time - .[1].time < 3000'
check "a request came without one masked Authorization header" "$work/journal.json" \
  'all(.[]; [.headers[] | select(.[0] | ascii_downcase == "authorization") | .[1]]
            | . == ["Basic ***"] or . == ["Bearer ***"])'
tokens=$(sed -n 's/.*"token":"\([^"]*\)".*/\1/p' "$work"/client-*.out)
[ "$(echo "$tokens" | wc -w)" -eq 3 ] || fail "the client did not print its three tokens"
for secret in demo-app-secret "$(printf %s demo-app-key:demo-app-secret | base64)" $tokens; do
  if grep -qF -- "$secret" "$work/journal.json"; then fail "the journal shows $secret"; fi
done
echo "integration test passed: $(jq length "$work/journal.json") requests journalled"
