#!/usr/bin/env bash
# Runs README.md's recipe for Hamlib programs as written: the settings it
# gives /etc/default/q9relay start the relay as its service does (on the
# package's own defaults), in front of the simulated radio on a
# pseudo-terminal, its commands start rigctld, and Hamlib's network model
# then reads the simulated radio's frequency through rigctld's own port.
# It runs in a network namespace of its own, where rigctld's port 4532 and
# the relay's ports are free whatever this computer runs.
# Usage: hamlib_recipe.sh SOURCE_DIR BIN_DIR (exits 77, skipped, where no
# network namespace can be made)
set -euo pipefail
source_dir=$1
bin_dir=$2

if [ -z "${Q9_RECIPE_NAMESPACE:-}" ]; then
    unshare --net --map-root-user true 2>/dev/null || {
        echo "SKIP: no network namespace can be made here"
        exit 77
    }
    exec unshare --net --map-root-user env Q9_RECIPE_NAMESPACE=1 bash "$0" "$@"
fi
ip link set lo up

fail() {
    echo "FAIL: $*"
    exit 1
}

# Runs the command every tenth of a second until it succeeds, for 10 s at most.
await() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The lines of the ```sh block under "Sharing the radio with Hamlib programs".
recipe() {
    awk 'block && /^```/ { exit }
         block { print; next }
         section && /^```sh/ { block = 1; next }
         section && /^#/ { exit }
         /^### Sharing the radio with Hamlib programs/ { section = 1 }' "$source_dir/README.md"
}

settings=()
commands=()
while IFS= read -r line; do
    case $line in
    Q9RELAY_*=*) settings+=("$line") ;;
    ?*) commands+=("$line") ;;
    esac
done < <(recipe)
if [ ${#settings[@]} -eq 0 ] || [ ${#commands[@]} -eq 0 ]; then
    fail "README.md has no recipe of settings and commands for Hamlib"
fi

work=$(mktemp -d)
cleanup() {
    local pid
    for pid in $(jobs -p); do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

frequency=7074000
"$bin_dir/q9sim" --pty "$work/radio" --vfoa "$frequency" &
await test -L "$work/radio" || fail "the simulated radio did not start"

# The package's settings file, then the recipe's lines for it, and the relay
# as the service's unit starts it.
# shellcheck source=packaging/q9relay.default
source "$source_dir/packaging/q9relay.default"
for line in "${settings[@]}"; do
    eval "$line"
done
# shellcheck disable=SC2086 # the options are words, as systemd splits them
RUNTIME_DIRECTORY=$work/run "$bin_dir/q9relay" --device "$work/radio" --listen "$Q9RELAY_LISTEN" \
    --allow "$Q9RELAY_ALLOW" $Q9RELAY_OPTIONS >"$work/relay.out" 2>"$work/relay.log" &
await grep -q 'listening on' "$work/relay.out" || fail "the relay did not start: $(cat "$work/relay.log")"

for line in "${commands[@]}"; do
    echo "+ $line"
    eval "$line"
done

# rigctld takes a moment to start, and a rigctl that reaches something else
# may wait for ever.
answer=
deadline=$((SECONDS + 20))
while [ "$SECONDS" -lt "$deadline" ]; do
    answer=$(timeout 5 rigctl -m 2 f 2>"$work/rigctl.log") && [ "$answer" = "$frequency" ] && break
    sleep 0.2
done
[ "$answer" = "$frequency" ] \
    || fail "rigctl -m 2 f read \"$answer\", not $frequency: $(cat "$work/rigctl.log" "$work/relay.log")"
echo "Hamlib recipe: rigctl -m 2 f read $answer through rigctld and the relay"
