#!/bin/sh
# The program keeps its working directories (TempData, enc, log) and firmware
# files beside its executable. An installed copy lives in a read-only place, so
# each user runs a private copy of the executable from a writable directory.
# The demo gets a directory of its own: its firmware files and flasher must never
# sit beside the plain program.
set -e
here=$(dirname "$(readlink -f "$0")")
src="$here/../@VQS_LIBEXEC_DIR@"
home_dir="${XDG_DATA_HOME:-$HOME/.local/share}/@VQS_EXE@"
mkdir -p "$home_dir"
exe="@VQS_EXE@"
if [ ! -x "$src/$exe" ]; then
  echo "$exe: not installed in $src" >&2
  exit 1
fi
if ! cmp -s "$src/$exe" "$home_dir/$exe"; then
  cp -f "$src/$exe" "$home_dir/$exe.new" && mv -f "$home_dir/$exe.new" "$home_dir/$exe"
fi
exec "$home_dir/$exe" "$@"
