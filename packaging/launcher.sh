#!/bin/sh
# The program keeps its working directories (TempData, enc, log) and firmware
# files beside its executable. An installed copy lives in a read-only place, so
# each user runs a private copy of the executable from a writable directory.
set -e
src=@VQS_LIBEXEC@
home_dir="${XDG_DATA_HOME:-$HOME/.local/share}/vqs-sensor-interface"
mkdir -p "$home_dir"
for f in @VQS_EXE@; do
  if [ -e "$src/$f" ] && ! cmp -s "$src/$f" "$home_dir/$f"; then
    cp -f "$src/$f" "$home_dir/$f.new" && mv -f "$home_dir/$f.new" "$home_dir/$f"
  fi
done
exec "$home_dir/@VQS_EXE@" "$@"
