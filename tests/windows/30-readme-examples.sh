# The README's VBScript and JScript examples through the registered Varne.dll (sourced by
# scripts/test-windows.sh, in its prefix), against examples/sample_site served on 127.0.0.1, with
# the files they write in a scratch folder. Each must reach its last line.
output=$PWD/build-windows/readme-examples
rm -rf "$output"
mkdir -p "$output/scripts" "$output/files"
dll=$(winepath -w "$VARNE_DLL")
timeout 60 wine regsvr32 /s "$dll"

# The sample site serves until its standard input closes.
exec {site}> >(exec /usr/bin/python3 -u -c '
import functools, http.server, sys, threading
class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
handler = functools.partial(Quiet, directory="examples/sample_site")
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(f"http://127.0.0.1:{server.server_address[1]}", flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()' >"$output/site.txt")
trap 'exec {site}>&-; timeout 60 wine regsvr32 /u /s "$dll"' EXIT
for _ in $(seq 50); do [ -s "$output/site.txt" ] && break; sleep 0.1; done
base=$(head -n 1 "$output/site.txt")

/usr/bin/python3 tests/python/test_readme_examples.py --extract "$output/scripts" --base "$base" \
  --folder "$(winepath -w "$output/files")"
for script in "$output"/scripts/*.vbs "$output"/scripts/*.js; do
  echo "== README example $(basename "$script")"
  timeout --kill-after=10 180 wine cscript //nologo "$(winepath -w "$script")" | tr -d '\r' | tee "$script.txt"
  [ "$(tail -n 1 "$script.txt")" = "README example ended" ]
done
