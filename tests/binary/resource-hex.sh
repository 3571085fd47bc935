# Sourced by the resource checks.
# resource_hex LLVM_READOBJ FILE TYPE_ID NAME_ID: the first data block of
# that resource as one line of hex digits, read back from the file
# (llvm-readobj dumps it as rows of "offset: hex bytes |characters|");
# empty when the file has no such resource.
resource_hex() {
  "$1" --coff-resources "$2" | awk -v type_id="(ID $3)" -v name_id="(ID $4) [" '
    /^  Type: /                { type = index($0, type_id) > 0; name = 0 }
    type && /^    Name: /      { name = index($0, name_id) > 0 }
    type && name && /Data \($/ { dump = 1; next }
    dump && /^ *\)$/           { exit }
    dump { sub(/^ *[0-9A-F]+: /, ""); sub(/ *\|.*$/, ""); gsub(/ /, ""); printf "%s", $0 }
  '
}
