# The demo journey in VBScript through the registered Varne.dll (sourced by scripts/test-windows.sh,
# in its prefix), against the bundled demo shop: every step passes, and the log, the settings and
# the workbook (Summary first, a row per step) are left in its output folder.
output=$PWD/build-windows/demo-journey
rm -rf "$output"
mkdir -p "$output"
dll=$(winepath -w "$VARNE_DLL")
timeout 60 wine regsvr32 /s "$dll"

# The shop serves until its standard input closes.
exec {shop}> >(cd examples && exec /usr/bin/python3 demo_server.py >"$output/shop.txt")
trap 'exec {shop}>&-; timeout 60 wine regsvr32 /u /s "$dll"' EXIT
for _ in $(seq 50); do [ -s "$output/shop.txt" ] && break; sleep 0.1; done
base=$(head -n 1 "$output/shop.txt")

timeout 180 wine cscript //nologo "$(winepath -w examples/demo_journey.vbs)" "/output:$(winepath -w "$output")" \
  "/base:$base" | tr -d '\r' | tee "$output/run.txt"
grep -qx '12 of 12 steps run, 12 passed, .* in all' "$output/run.txt"
grep -q "^Browser set to \"$base/index.html\"" "$output/demo_journey.log"
grep -q "^BASE_URL=$base" "$output/demo_journey_settings.cfg"
/usr/bin/python3 - "$output/demo_journey.xls" <<'PY'
import sys
import xlrd

book = xlrd.open_workbook(sys.argv[1])
assert book.sheet_names() == ["Summary", "Steps"], book.sheet_names()
steps = book.sheet_by_name("Steps")
assert steps.nrows == 13 and all(steps.cell_value(row, 1) == "PASS" for row in range(1, 13)), steps.nrows
PY
