#!/usr/bin/env bash
# Checks the settings scripts/demo gives the panel: in every time zone the
# offset from scripts/utc_offset, applied as the panel's clock applies it
# (local hour plus offset, brought back into the day once by 24), gives the
# UTC hour, in winter and in summer; and a run starts on Comm1 with
# auto-connect on while keeping the operator's other settings, the server
# address following the demo's radio.
# Usage: demo_settings_check.sh SOURCE_DIR
set -uo pipefail
scripts="$1/scripts"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

now=$(date +%s)
# Mid-January and mid-July, at noon and late evening UTC (where the local
# day is a different one in many zones).
moments=("$now" 1705320000 1705359600 1721044800 1721084400)
zones=(UTC Europe/Berlin America/New_York Asia/Tokyo Australia/Sydney
    Pacific/Kiritimati Pacific/Pago_Pago XXX-1 XXX+5YYY)
for zone in "${zones[@]}"; do
    for moment in "${moments[@]}"; do
        offset=$(TZ=$zone "$scripts/utc_offset" "@$moment") || {
            fail "$zone @$moment: utc_offset failed"
            continue
        }
        [[ $offset =~ ^[+-][0-9][0-9]$ ]] || {
            fail "$zone @$moment: offset \"$offset\" is not a sign and two digits"
            continue
        }
        local_hour=$(TZ=$zone date -d "@$moment" +%H)
        utc_hour=$(date -u -d "@$moment" +%H)
        shown=$((10#$local_hour + ${offset:0:1}10#${offset:1}))
        if [ "$shown" -gt 23 ]; then
            shown=$((shown - 24))
        elif [ "$shown" -lt 0 ]; then
            shown=$((shown + 24))
        fi
        [ "$shown" -eq $((10#$utc_hour)) ] \
            || fail "$zone @$moment: local $local_hour $offset shows hour $shown, UTC is $utc_hour"
    done
done

# Zones with part hours get the nearest whole hour, halves towards zero.
expect_offset() {
    local got
    got=$(TZ=$1 "$scripts/utc_offset" "@$2")
    [ "$got" = "$3" ] || fail "$1 @$2: offset $got, expected $3"
}
expect_offset Asia/Kolkata 1705320000 -05
expect_offset Asia/Kathmandu 1705320000 -06
expect_offset America/St_Johns 1705320000 +03
expect_offset America/St_Johns 1721044800 +02

# The settings file of a demo run.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ini="$dir/d9iduzid.ini"
expect_record() {
    local got
    got=$(od -An -c "$ini" | tr -s ' \n' ' ')
    local want
    want=$(printf '%s\r\n' "$1" | od -An -c | tr -s ' \n' ' ')
    [ "$got" = "$want" ] || fail "$2: wrote [$(tr -d '\r' <"$ini")], expected [$1] with CRLF"
}

TZ=XXX-3 "$scripts/demo_settings" "$ini" || fail "first run failed"
expect_record '1,"127.0.0.1","-03",#TRUE#,#FALSE#' "first run"

# After the operator tried the server link on port 4 with the debug console
# on: the demo's own address (127.0.0.1, with or without a port) follows
# where this run's radio listens, another server's is kept.
while read -r saved address want; do
    printf '4,"%s","+07",#FALSE#,#TRUE#\r\n' "$saved" >"$ini"
    TZ=XXX-3 "$scripts/demo_settings" "$ini" "$address" || fail "later run with $saved failed"
    expect_record "1,\"$want\",\"+07\",#TRUE#,#TRUE#" "later run with $saved, the radio on $address"
done <<'RUNS'
10.9.8.7 127.0.0.1 10.9.8.7
10.9.8.7 127.0.0.1:41234 10.9.8.7
127.0.0.1 127.0.0.1:41234 127.0.0.1:41234
127.0.0.1:41234 127.0.0.1 127.0.0.1
RUNS

printf 'not a record\r\n' >"$ini"
TZ=XXX-3 "$scripts/demo_settings" "$ini" 2>/dev/null || fail "run over an unreadable file failed"
expect_record '1,"127.0.0.1","-03",#TRUE#,#FALSE#' "unreadable file"
grep -q 'not a record' "$ini.bad" || fail "the unreadable file was not kept as .bad"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "demo settings: all checks passed"
