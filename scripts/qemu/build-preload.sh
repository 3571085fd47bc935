#!/usr/bin/env bash
# Builds the library that 32-bit Wine preloads under QEMU (see
# wine-segments.c) into DIR/lib/i386-linux-gnu and DIR/lib/x86_64-linux-gnu,
# the two expansions of ld.so's $LIB on Debian, with clang and lld and no
# C library. Prints the LD_PRELOAD value.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dir=${1:?usage: build-preload.sh DIR}
for arch in i386 x86_64; do
  out=$dir/lib/$arch-linux-gnu/orv-wine-segments.so
  if [ ! -f "$out" ] || [ "$here/wine-segments.c" -nt "$out" ]; then
    mkdir -p "$(dirname "$out")"
    clang --target=$arch-linux-gnu -O2 -fPIC -shared -nostdlib -fuse-ld=lld \
      "$here/wine-segments.c" -o "$out"
  fi
done
echo "$dir/\$LIB/orv-wine-segments.so"
