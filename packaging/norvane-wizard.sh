#!/bin/sh
# Starts the Norvane migration wizard from the folder of its help file, where it looks for it.
here=$(dirname "$(readlink -f "$0")")
cd "$here/../share/norvane" || exit 1
exec "$here/../lib/norvane/norvane-wizard" "$@"
