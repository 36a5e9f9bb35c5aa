#!/bin/sh
# Checks the export and import tables of one plug-in's Windows build:
#   PLUGIN.mexw64 exports mexFunction and nothing else, imports from
#   libmx.dll, libmex.dll, KERNEL32.dll and msvcrt.dll only, takes from
#   libmx/libmex only names that windows/libmx.def and libmex.def list, and
#   carries no link time stamp;
#   our libmx.dll and libmex.dll export every name of those lists.
# Usage: tables.sh OBJDUMP WINDOWS_BUILD WINDOWS_SOURCES PLUGIN
objdump=$1
dir=$2
src=$3
plug=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
problem() {
  echo "tables.sh: $*"
  fail=1
}

# Exported names, one a line.
exports() {
  "$objdump" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on { print $NF }'
}
# "DLL name" lines, each followed by the names imported from it ("  name").
imports() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name: / { dll = $3; print dll; next }
    /Hint\/Ord Member-Name/ { on = 1; next }
    on && NF == 0 { on = 0 }
    on { print "  " $NF }'
}
# The names of a .def file's EXPORTS section.
def_names() {
  sed -e 's/;.*//' "$1" | awk '/^EXPORTS/ { on = 1; next } on && NF { print $1 }'
}

for f in $plug.mexw64 libmx.dll libmex.dll; do
  [ -f "$dir/$f" ] || { echo "tables.sh: $dir/$f was not built"; exit 1; }
done

plugin="$dir/$plug.mexw64"
exports "$plugin" > "$tmp/exports"
echo "$plug.mexw64 exports: $(tr '\n' ' ' < "$tmp/exports")"
[ "$(cat "$tmp/exports")" = "mexFunction" ] || problem "$plug.mexw64 must export exactly mexFunction"

imports "$plugin" > "$tmp/imports"
grep -v '^  ' "$tmp/imports" > "$tmp/dlls"
echo "$plug.mexw64 imports: $(tr '\n' ' ' < "$tmp/dlls")"
while read -r dll; do
  case "$dll" in
    libmx.dll|libmex.dll|KERNEL32.dll|msvcrt.dll) ;;
    *) problem "$plug.mexw64 imports $dll" ;;
  esac
done < "$tmp/dlls"
for dll in libmx.dll libmex.dll; do
  grep -qx "$dll" "$tmp/dlls" || problem "$plug.mexw64 does not import $dll"
done

def_names "$src/libmx.def" > "$tmp/libmx.def"
def_names "$src/libmex.def" > "$tmp/libmex.def"
[ -s "$tmp/libmx.def" ] && [ -s "$tmp/libmex.def" ] || problem "no names read from the .def files"
for lib in libmx libmex; do
  awk -v dll="$lib.dll" '!/^  / { on = ($1 == dll); next } on { print $1 }' "$tmp/imports" > "$tmp/$lib.used"
  echo "from $lib.dll: $(tr '\n' ' ' < "$tmp/$lib.used")"
  while read -r name; do
    grep -qx "$name" "$tmp/$lib.def" || problem "$plug.mexw64 takes $name from $lib.dll, which $lib.def does not list"
  done < "$tmp/$lib.used"
  exports "$dir/$lib.dll" > "$tmp/$lib.exports"
  while read -r name; do
    grep -qx "$name" "$tmp/$lib.exports" || problem "our $lib.dll does not export $name, which $lib.def lists"
  done < "$tmp/$lib.def"
done

# --no-insert-timestamp leaves the PE header's stamp at zero.
"$objdump" -p "$plugin" | grep -q '^Time/Date[[:space:]]*Thu Jan  1 00:00:00 1970' ||
  problem "$plug.mexw64 carries a link time stamp"

[ $fail -eq 0 ] && echo "tables.sh: export and import tables as required"
exit $fail
