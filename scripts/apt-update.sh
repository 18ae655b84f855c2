#!/usr/bin/env bash
# Refreshes apt's package lists, trying once more while a mirror is half-synced
# ("File has unexpected size"); what could not be refreshed then is left as
# it was, and the install or source download that needs it says so. A list
# that is merely stale stays stale for longer than is worth waiting for.
for try in 1 2; do
    apt-get update -q && exit 0
    [ "$try" -eq 2 ] && break
    echo "apt-update: try $try failed; trying again in 10 s" >&2
    sleep 10
done
echo "apt-update: some package lists could not be refreshed; going on with the others" >&2
