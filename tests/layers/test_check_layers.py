"""The layer check against small trees of its own: it must name every include against the plan."""

import pathlib
import subprocess
import sys

import pytest

CHECK = pathlib.Path(__file__).with_name("check_layers.py")

TABLE = """\
# a comment
[frame]

[browser]
frame     # what the browser stands on

[platform]
frame

[platform/chromium]
frame
platform
browser
"""


def run(root, *args):
    return subprocess.run([sys.executable, str(CHECK), str(root), *args], capture_output=True, text=True)


def write(root, relative, text):
    path = root / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text, encoding="utf-8")


@pytest.fixture
def tree(tmp_path):
    write(tmp_path, "DEPS.list", TABLE)
    write(tmp_path, "frame/text.h", "#pragma once\n")
    write(tmp_path, "browser/browser.cpp", '#include "browser/browser.h"\n#include "frame/text.h"\n#include <vector>\n')
    write(tmp_path, "platform/chromium/page.cpp", '#include "dom/object_model.h"\n#include "platform/clock.h"\n')
    return tmp_path


def test_a_tree_that_keeps_the_plan_passes(tree):
    result = run(tree)
    assert result.returncode == 0, result.stdout
    assert "0 include(s) against the plan" in result.stdout


def test_an_include_against_the_plan_is_named_with_its_file_and_line(tree):
    write(tree, "frame/object.cpp", '#include "frame/text.h"\n\n#include "platform/chromium/page.h"\n')
    result = run(tree)
    assert result.returncode == 1
    assert ("frame/object.cpp:3: layer frame may not include platform/chromium/page.h (layer platform/chromium)"
            in result.stdout)


def test_a_file_belongs_to_the_longest_layer_that_holds_it(tree):
    # platform/chromium may reach browser; platform itself may not.
    write(tree, "platform/clock.cpp", '#include "browser/browser.h"\n')
    result = run(tree)
    assert result.returncode == 1
    assert "platform/clock.cpp:1: layer platform may not" in result.stdout
    assert "platform/chromium/page.cpp" not in result.stdout


def test_the_readme_diagram_must_be_the_one_the_table_draws(tree):
    drawn = run(tree, "--print-diagram").stdout.strip()
    assert drawn.splitlines()[0].startswith("frame")
    write(tree, "README.md", f"# x\n<!-- layers: begin -->\n```text\n{drawn}\n```\n<!-- layers: end -->\n")
    assert run(tree, "--diagram", str(tree / "README.md")).returncode == 0

    write(tree, "README.md", "<!-- layers: begin -->\nframe -> (nothing)\n<!-- layers: end -->\n")
    result = run(tree, "--diagram", str(tree / "README.md"))
    assert result.returncode == 1
    assert "the layer diagram is not the one DEPS.list draws" in result.stdout


def test_a_table_that_allows_an_unknown_layer_is_refused(tree):
    write(tree, "DEPS.list", "[frame]\nrecords\n")
    result = run(tree)
    assert result.returncode != 0
    assert "allows records, which is no layer of the table" in result.stderr
