#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing ORV:
# the MinGW-w64 cross compilers for 32- and 64-bit Windows, 64-bit Wine,
# the Japanese locale (the monitor's texts are Shift-JIS, code page 932),
# Xvfb for screenshots, iproute2 for the network-namespace test rigs,
# GoogleTest's sources, and LLVM's dlltool, clang and lld (the import
# library for Visual Studio and its link check). Safe to run again: it
# installs only what is missing.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix     # 32-bit build, the shipped target
  g++-mingw-w64-x86-64-posix   # 64-bit build, run under Wine
  wine64                       # runs the 64-bit tests
  locales                      # ja_JP.UTF-8 gives Wine code page 932
  xvfb                         # display for screenshot runs
  iproute2                     # ip netns for the silent-host test rigs
  socat                        # pseudo-terminal pairs behind the serial-port tests
  googletest                   # /usr/src/googletest, cross-compiled
  cmake make g++               # host build of the test peers
  llvm                         # llvm-dlltool writes orvcomms.lib in the short import format;
                               # llvm-readobj reads the programs' manifests back (a test)
  clang lld                    # an MSVC-mode caller links orvcomms.lib with lld-link (a test)
  fonts-ipafont-gothic         # Japanese font for the monitor's screenshots
  fonts-wine                   # Wine's own fonts (caption buttons, dialogs)
  imagemagick                  # screenshots of the virtual display (import)
  udhcpc                       # a real DHCP client for the discovery rig
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: packages present"
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating locale ja_JP.UTF-8"
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
else
  echo "setup: locale ja_JP.UTF-8 present"
fi
