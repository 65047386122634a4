# The demo journey in VBScript through the registered Varne.dll (sourced by scripts/test-windows.sh,
# in its prefix), against the bundled demo shop, on each engine: every step passes, and the log, the
# settings and the workbook (Summary first, a row per step) are left in its output folder.
dll=$(winepath -w "$VARNE_DLL")
timeout 60 wine regsvr32 /s "$dll"

# The shop serves until its standard input closes.
shop_output=$PWD/build-windows/demo-shop.txt
exec {shop}> >(cd examples && exec /usr/bin/python3 demo_server.py >"$shop_output")
trap 'exec {shop}>&-; timeout 60 wine regsvr32 /u /s "$dll"' EXIT
for _ in $(seq 50); do [ -s "$shop_output" ] && break; sleep 0.1; done
base=$(head -n 1 "$shop_output")

for engine in chromium firefox; do
  output=$PWD/build-windows/demo-journey-$engine
  rm -rf "$output"
  mkdir -p "$output"
  VARNE_BROWSER=$engine timeout 180 wine cscript //nologo "$(winepath -w examples/demo_journey.vbs)" \
    "/output:$(winepath -w "$output")" "/base:$base" | tr -d '\r' | tee "$output/run.txt"
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
  # The browser leaves no profile in the prefix's temporary folder.
  if [ -n "$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -name "varne-$engine-*" -print -quit)" ]; then
    echo "demo journey on $engine left a profile behind" >&2
    exit 1
  fi
done
