#!/bin/sh
# Checks a built Windows module with objdump -p: it exports exactly one name,
# mexFunction, undecorated; it imports from libmx.dll and libmex.dll only what
# their .def files list; and it needs no DLL but those and Windows' own
# (no compiler runtime DLL, which a host would not have).
# Usage: check_windows_module.sh OBJDUMP MODULE DEF_DIRECTORY
set -eu
objdump=$1
module=$2
def_directory=$3
headers=$("$objdump" -p "$module")
status=0
fail() {
  echo "$module: $*"
  status=1
}

exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
[ "$exports" = "mexFunction" ] || fail "exports '$(echo $exports)', not just mexFunction"

dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | msvcrt.dll | libmx.dll | libmex.dll) ;;
    *) fail "depends on $dll" ;;
  esac
done

for host_library in libmx libmex; do
  echo "$dlls" | grep -qx "$host_library.dll" || fail "imports nothing from $host_library.dll"
  # Names listed under this DLL in the import table.
  imported=$(echo "$headers" |
             awk -v dll="$host_library.dll" '/DLL Name:/ { inside = ($3 == dll); next }
                                             inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }
                                             inside && NF == 0 { inside = 0 }')
  allowed=$(sed -n 's/^[[:space:]]\{1,\}\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*$/\1/p' \
            "$def_directory/$host_library.def")
  for name in $imported; do
    echo "$allowed" | grep -qx "$name" || fail "imports $name from $host_library.dll"
  done
done

[ $status -eq 0 ] && echo "$module: exports mexFunction only; imports: $(echo $dlls)"
exit $status
