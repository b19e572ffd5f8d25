#!/bin/sh
# Checks a built Windows module with objdump -p: it exports exactly two
# names, undecorated: mexFunction and mexfilerequiredapiversion; it imports from libmx.dll and libmex.dll exactly
# the names a module built with MATLAB's own headers for the large-array-dims
# API imports for the operations the gateway calls (mxCreateDoubleMatrix and
# mxGetNumberOfDimensions as their _730 entries, the others plain); and it
# needs no DLL but those and Windows' own (no compiler runtime DLL, which a
# host would not have).
# Usage: check_windows_module.sh OBJDUMP MODULE [LIBMX_NAMES LIBMEX_NAMES]
# (the names default to korvane's; a companion module gives its own)
set -eu
objdump=$1
module=$2
expected_libmx=${3:-"mxCreateDoubleMatrix_730 mxGetClassName mxGetM mxGetN
                    mxGetNumberOfDimensions_730 mxGetPr mxIsComplex mxIsEmpty mxIsSparse"}
expected_libmex=${4:-"mexErrMsgTxt"}
headers=$("$objdump" -p "$module")
status=0
fail() {
  echo "$module: $*"
  status=1
}

exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
exports=$(printf '%s\n' $exports | LC_ALL=C sort)
[ "$(echo $exports)" = "mexFunction mexfilerequiredapiversion" ] ||
  fail "exports '$(echo $exports)', not just mexFunction and mexfilerequiredapiversion"

dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | msvcrt.dll | libmx.dll | libmex.dll) ;;
    *) fail "depends on $dll" ;;
  esac
done

for host_library in libmx libmex; do
  # Names listed under this DLL in the import table, sorted.
  imported=$(echo "$headers" |
             awk -v dll="$host_library.dll" '/DLL Name:/ { inside = ($3 == dll); next }
                                             inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }
                                             inside && NF == 0 { inside = 0 }' | LC_ALL=C sort)
  eval "expected=\$expected_$host_library"
  expected=$(printf '%s\n' $expected | LC_ALL=C sort)
  [ "$(echo $imported)" = "$(echo $expected)" ] ||
    fail "imports '$(echo $imported)' from $host_library.dll, not exactly '$(echo $expected)'"
done

[ $status -eq 0 ] && echo "$module: exports $(echo $exports); imports: $(echo $dlls)"
exit $status
