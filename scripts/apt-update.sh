#!/usr/bin/env bash
# Refreshes apt's package lists, trying again while a mirror is half-synced
# ("File has unexpected size"); what could not be refreshed then is left as
# it was, and the install or source download that needs it says so.
for try in 1 2 3; do
    apt-get update -q && exit 0
    echo "apt-update: try $try failed; trying again in 20 s" >&2
    sleep 20
done
echo "apt-update: some package lists could not be refreshed; going on with the others" >&2
