#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing ORV:
# the MinGW-w64 cross compilers for 32- and 64-bit Windows, 64-bit and
# 32-bit Wine (the shipped build is 32-bit),
# the Japanese locale (the monitor's texts are Shift-JIS, code page 932),
# Xvfb for screenshots, iproute2 for the network-namespace test rigs,
# GoogleTest's sources, and LLVM's dlltool, clang and lld (the import
# library for Visual Studio and its link check). Where the kernel does not
# execute 32-bit x86 code itself, it registers QEMU's user-mode emulator
# for 32-bit programs (see run_32bit below). Safe to run again: it
# installs only what is missing.
set -euo pipefail

packages=(
  g++-mingw-w64-i686-posix     # 32-bit build, the shipped target
  g++-mingw-w64-x86-64-posix   # 64-bit build, run under Wine
  wine64                       # runs the 64-bit tests
  wine32:i386                  # runs the 32-bit tests (the shipped build), under WOW64
  wine32-preloader:i386        # without it 32-bit Wine spends about a minute reserving memory
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
  wixl msitools                # the MSI packages of make dist (wixl, msibuild) and their tests (msiinfo)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture for 32-bit Wine"
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
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

# 32-bit programs. Some kernels execute 32-bit x86 code themselves; others
# are built or booted without it (dmesg: "32-bit emulation disabled").
# There, QEMU's user-mode emulator runs the 32-bit Linux side of Wine
# through binfmt_misc; the Windows programs then run as under any WOW64.
# Debian registers QEMU for foreign architectures only, never for i386
# on amd64, so the handler is registered here. It lasts until reboot.
runs_32bit() { (source "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh" && orv_runs_32bit); }
binfmt=/proc/sys/fs/binfmt_misc
if runs_32bit; then
  echo "setup: 32-bit programs run"
else
  echo "setup: this kernel does not run 32-bit programs; registering qemu-i386-static for them"
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed'; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends qemu-user-static
  fi
  [ -e "$binfmt/register" ] || "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" || true
  if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null || true
  fi
  # A registration, or binfmt_misc as a whole, that someone disabled
  # ("echo 0 > .../qemu-i386") stays in place but runs nothing.
  for entry in status qemu-i386; do
    if [ -e "$binfmt/$entry" ] && ! grep -qx enabled "$binfmt/$entry"; then
      echo "setup: enabling the disabled binfmt_misc entry $binfmt/$entry"
      echo 1 | "${sudo_cmd[@]}" tee "$binfmt/$entry" >/dev/null || true
    fi
  done
  if runs_32bit; then
    echo "setup: 32-bit programs run through qemu-i386-static"
  else
    echo "setup: 32-bit programs cannot run here: $(source "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh" && orv_32bit_cause)"
    echo "setup: the win32 test suite will be reduced to its binary checks (a failure in CI)"
  fi
fi
