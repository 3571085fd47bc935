#!/usr/bin/env bash
# A deliverable carries its version resource (type 16, id 1), read back
# from the file: the fixed file and product versions are the project's
# version (four numbers, missing ones 0), the FileVersion and
# ProductVersion strings are the version as written in CMakeLists.txt,
# OriginalFilename is the file's name, and FileDescription and
# ProductName are there.
#   usage: check-version.sh LLVM_READOBJ FILE VERSION
set -uo pipefail
readobj=$1 file=$2 version=$3
source "$(dirname "${BASH_SOURCE[0]}")/resource-hex.sh"

hex=$(resource_hex "$readobj" "$file" 16 1)
if [ -z "$hex" ]; then
  echo "no version resource (type 16, id 1) in $file"
  exit 1
fi
perl -MEncode -e '
  my ($hex, $version, $name) = @ARGV;
  my $bytes = pack("H*", $hex);
  my $status = 0;
  sub check {
    my ($what, $got, $want) = @_;
    print "$what: $got\n";
    if ($got ne $want) { print "  expected: $want\n"; $status = 1 }
  }
  # VS_FIXEDFILEINFO: signature, structure version, then the file and
  # product versions as two DWORDs each (high word first).
  my $at = index($bytes, pack("V", 0xFEEF04BD));
  if ($at < 0) { print "no fixed file information\n"; exit 1 }
  my (undef, undef, @dwords) = unpack("V6", substr($bytes, $at, 24));
  my @numbers = map { ($_ >> 16, $_ & 0xFFFF) } @dwords;
  my $four = join(".", (split(/\./, $version), 0, 0, 0)[0 .. 3]);
  check("FILEVERSION", join(".", @numbers[0 .. 3]), $four);
  check("PRODUCTVERSION", join(".", @numbers[4 .. 7]), $four);
  # The string table: each key, its padding, its value, all UTF-16LE.
  my $text = decode("UTF-16LE", $bytes);
  my %value;
  for my $key (qw(FileVersion ProductVersion OriginalFilename FileDescription ProductName)) {
    ($value{$key}) = $text =~ /\Q$key\E\x00+([^\x00]*)\x00/;
    $value{$key} //= "";
  }
  check("FileVersion", $value{FileVersion}, $version);
  check("ProductVersion", $value{ProductVersion}, $version);
  check("OriginalFilename", $value{OriginalFilename}, $name);
  for my $key (qw(FileDescription ProductName)) {
    print "$key: $value{$key}\n";
    if ($value{$key} eq "") { print "  missing\n"; $status = 1 }
  }
  exit $status;
' "$hex" "$version" "$(basename "$file")"
