#!/usr/bin/env bash
# A caller compiled as Visual C++ compiles it (clang in MSVC mode) links
# through orvcomms.lib with lld-link at its defaults, /SAFESEH included on
# 32-bit x86 as in Visual Studio projects, and imports every export it
# calls from orvcomms.dll under the plain name.
#   usage: check-msvc-link.sh ARCH CLANG LLD_LINK OBJDUMP LIB EXPORTS_TXT WORKDIR
# ARCH is i686 or x86_64. No MSVC runtime is available here, so the caller
# has its own entry point and links with /nodefaultlib; it is never run.
# The mingw-w64 headers do not compile in MSVC mode, so the caller declares
# the exports itself from the export list: on 32-bit x86 an argument list
# of the listed byte count gives the same _Name@bytes symbol as the header.
set -euo pipefail
export LC_ALL=C  # the tools' output is parsed in English
arch=$1 clang=$2 lld_link=$3 objdump=$4 lib=$5 list=$6 work=$7
mkdir -p "$work"
caller=$work/msvc_caller.c

exports=$(grep -E '^[0-9]' "$list" | awk '{print $2, $3}')
{
  echo "/* Generated from $(basename "$list") by $(basename "$0"). */"
  while read -r name bytes; do
    args=void
    if [ "$bytes" -gt 0 ]; then
      args=$(for ((i = 0; i < bytes / 4; ++i)); do printf 'int,'; done)
      args=${args%,}
    fi
    echo "__declspec(dllimport) int __stdcall $name($args);"
  done <<<"$exports"
  echo "int __stdcall entry(void) {"
  echo "    int sum = 0;"
  while read -r name bytes; do
    zeros=$(for ((i = 0; i < bytes / 4; ++i)); do printf '0,'; done)
    echo "    sum += $name(${zeros%,});"
  done <<<"$exports"
  echo "    return sum;"
  echo "}"
} >"$caller"

"$clang" --target="$arch-pc-windows-msvc" -c "$caller" -o "$work/msvc_caller.obj"
"$lld_link" /nologo /nodefaultlib /entry:entry /subsystem:console \
  /out:"$work/msvc_caller.exe" "$work/msvc_caller.obj" "$lib"

imported=$("$objdump" -p "$work/msvc_caller.exe" | awk '
  /DLL Name:/ { in_dll = (tolower($3) == "orvcomms.dll"); next }
  in_dll && /^\t[ 0-9a-f]+\t/ { print $NF }')
missing=0
while read -r name bytes; do
  if ! grep -qx "$name" <<<"$imported"; then
    echo "the caller does not import $name from orvcomms.dll"
    missing=1
  fi
done <<<"$exports"
if [ "$missing" -ne 0 ]; then
  echo "it imports:" $imported
  exit 1
fi
echo "linked with lld-link; imports from orvcomms.dll:" $imported
