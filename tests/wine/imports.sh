#!/usr/bin/env bash
# The Windows programs import only Windows' own libraries: no C or C++ run time, thread
# library or Qt library of the cross-compiler has to be shipped beside them. Each also carries
# its icon, its version (file version "1.00.0005" for 1.0.5) and its manifest (run as the
# user who starts it, the current common controls, sharp on every monitor's scale).
#
#   tests/wine/imports.sh WINDOWS_BIN PROGRAM.exe...
set -euo pipefail
source "$(dirname "$0")/wine.sh"
BIN="$1"
shift
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
OBJDUMP=x86_64-w64-mingw32-objdump
WINDRES=x86_64-w64-mingw32-windres

# Libraries every Windows has (lower case); api-ms-win-* are Windows' own API sets.
WINDOWS_OWN=(advapi32.dll authz.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll d3d11.dll
    d3d9.dll dwmapi.dll dwrite.dll dxgi.dll gdi32.dll imm32.dll kernel32.dll mpr.dll msvcrt.dll
    netapi32.dll ntdll.dll odbc32.dll ole32.dll oleaut32.dll rpcrt4.dll secur32.dll setupapi.dll
    shcore.dll shell32.dll shlwapi.dll user32.dll userenv.dll uxtheme.dll version.dll winmm.dll
    wininet.dll ws2_32.dll wtsapi32.dll)
windows_own() {
    local own
    [[ "$1" == api-ms-win-* ]] && return 0
    for own in "${WINDOWS_OWN[@]}"; do
        [ "$1" = "$own" ] && return 0
    done
    return 1
}

version="$(sed -n 's/^project(Zephrane VERSION \([0-9.]*\).*/\1/p' \
    "$(dirname "$0")/../../CMakeLists.txt")"
IFS=. read -r major minor revision <<<"$version"
file_version="$(printf '%d.%02d.%04d' "$major" "$minor" "$revision")"

for program in "$@"; do
    exe="$BIN/$program"
    [ -f "$exe" ] || fail "$exe was not built"
    step "$program imports only Windows' own libraries"
    "$OBJDUMP" -p "$exe" >"$OUT/$program.headers" || fail "cannot read $exe"
    imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' "$OUT/$program.headers" | tr 'A-Z' 'a-z')"
    [ -n "$imports" ] || fail "$program names no library at all" "$OUT/$program.headers"
    for dll in $imports; do
        windows_own "$dll" || fail "$program imports $dll, which Windows does not have"
    done
    # The wizard is a windowed program (2), the others run in a console (3).
    subsystem=3
    [ "$program" != zephrane.exe ] || subsystem=2
    grep -Eq "^Subsystem[[:space:]]+0*$subsystem[[:space:]]" "$OUT/$program.headers" ||
        fail "$program is not of subsystem $subsystem" "$OUT/$program.headers"
    step "$program carries its icon, version $file_version and manifest"
    "$WINDRES" -i "$exe" -O rc -o "$OUT/$program.rc" 2>"$OUT/$program.rc.err" ||
        fail "cannot read the resources of $program" "$OUT/$program.rc.err"
    grep 'VALUE "' "$OUT/$program.rc" >"$OUT/$program.version" || true
    grep -q "VALUE \"FileVersion\", \"$file_version\"" "$OUT/$program.version" ||
        fail "$program has no file version $file_version" "$OUT/$program.version"
    grep -q "VALUE \"OriginalFilename\", \"$program\"" "$OUT/$program.version" ||
        fail "$program's version does not name it" "$OUT/$program.version"
    grep -q '^1 14 /\* RT_GROUP_ICON \*/' "$OUT/$program.rc" || fail "$program has no icon"
    python3 "$(dirname "$0")/rc_resource.py" "$OUT/$program.rc" 1 24 >"$OUT/$program.manifest" ||
        fail "$program has no manifest"
    python3 - "$OUT/$program.manifest" <<'PY' || fail "$program's manifest" "$OUT/$program.manifest"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
def found(tag, **attrs):
    for element in root.iter():
        if element.tag.endswith("}" + tag) and all(element.get(k) == v for k, v in attrs.items()):
            return element
    sys.exit(f"no {tag} {attrs}")
found("requestedExecutionLevel", level="asInvoker")
found("assemblyIdentity", name="Microsoft.Windows.Common-Controls", version="6.0.0.0")
if found("dpiAwareness").text != "PerMonitorV2":
    sys.exit("not aware of each monitor's scale (PerMonitorV2)")
PY
done
echo "Windows programs' imports and resources: all passed."
