"""Runs every code example of README.md, so that an example that breaks fails the tests.

Examples are the fenced blocks tagged python, cpp, vbscript or javascript. A comment on the
line right before a fence changes how it runs:

    <!-- example: fragment -->              not a whole program (one line, or output): skipped
    <!-- example: continues -->             runs after the previous example of its language
    <!-- example: continues Timing, ExcelConn -->
                                            runs after the examples of those headings

Addresses and paths are written as a reader would type them and substituted here:
http://127.0.0.1:8000 becomes the address of examples/sample_site, served by this test, and
/tmp/ (C:\\runs\\ in the Windows scripts) a temporary folder, which is also the working folder.
A C++ example without main() has its #include and using lines kept at the top and the rest
put in main(); <varne/varne.h> and the varne namespace are added when it includes nothing.
A Python example that defines test_ functions runs under pytest, with the module's plugin.

VBScript and JScript need the COM server: scripts/test-windows.sh runs them under Wine with
`python3 tests/python/test_readme_examples.py --extract DIR --base URL --folder PATH`.
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
BUILD = ROOT / "build"
LANGUAGES = {"python": "py", "cpp": "cpp", "vbscript": "vbs", "javascript": "js"}
README_BASE = "http://127.0.0.1:8000"
MARK = re.compile(r"<!--\s*example:\s*(fragment|continues)\s*(.*?)\s*-->")


class Example:
    def __init__(self, language, line, heading, code, mark, after):
        self.language = language
        self.line = line
        self.heading = heading
        self.code = code
        self.mark = mark
        self.after = after

    @property
    def name(self):
        heading = re.sub(r"[^A-Za-z0-9]+", "-", self.heading).strip("-")[:40]
        return f"{self.language}-line{self.line}-{heading}"


def read_examples(text):
    examples = []
    lines = text.splitlines()
    heading = ""
    position = 0
    while position < len(lines):
        line = lines[position]
        if line.startswith("#"):
            heading = line.lstrip("#").strip()
        fence = re.match(r"^```(\w*)\s*$", line)
        if not fence:
            position += 1
            continue
        end = position + 1
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        language = fence.group(1)
        if language in LANGUAGES:
            before = next((lines[i] for i in range(position - 1, -1, -1) if lines[i].strip()), "")
            marked = MARK.search(before)
            mark = marked.group(1) if marked else None
            after = [h.strip() for h in marked.group(2).split(",") if h.strip()] if marked else []
            examples.append(Example(language, position + 1, heading, "\n".join(lines[position + 1 : end]) + "\n", mark, after))
        position = end + 1
    return examples


def program_of(example, examples):
    """The example's code with the examples it continues put before it."""
    if example.mark != "continues":
        return example.code
    same = [e for e in examples if e.language == example.language and e.mark != "fragment"]
    if example.after:
        missing = [h for h in example.after if not any(e.heading == h for e in same)]
        assert not missing, f"line {example.line} continues headings without {example.language} examples: {missing}"
        earlier = [e for h in example.after for e in same if e.heading == h and e.line < example.line]
    else:
        earlier = [e for e in same if e.line < example.line][-1:]
        assert earlier, f"line {example.line} continues no earlier {example.language} example"
    return "".join(program_of(e, examples) for e in earlier) + example.code


def substituted(code, base, folder):
    return code.replace(README_BASE, base).replace("/tmp/", folder.rstrip("/") + "/")


def cpp_program(code):
    if re.search(r"\bint\s+main\s*\(", code):
        return code
    top = [l for l in code.splitlines() if l.startswith("#include") or l.startswith("using namespace")]
    body = [l for l in code.splitlines() if l not in top]
    if not any(l.startswith("#include") for l in top):
        top = ["#include <varne/varne.h>", "using namespace varne;"] + top
    return "\n".join(top) + "\nint main()\n{\n" + "\n".join(body) + "\nreturn 0;\n}\n"


EXAMPLES = read_examples(README.read_text(encoding="utf-8"))


def test_the_readme_has_examples_in_every_language():
    assert {e.language for e in EXAMPLES} == set(LANGUAGES)


@pytest.fixture(scope="module")
def installed_prefix(tmp_path_factory):
    """The built library installed into a scratch prefix, as a C++ program outside the tree sees it."""
    if not (BUILD / "build.ninja").exists():
        pytest.fail("build/ is not configured: run scripts/build.sh first")
    prefix = tmp_path_factory.mktemp("prefix")
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(prefix)], check=True, capture_output=True)
    return prefix


def _run(command, cwd, env=None):
    done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, f"{' '.join(map(str, command))} exited {done.returncode}\n{done.stdout}\n{done.stderr}"
    return done


def _python_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(BUILD / "python")] + [p for p in [env.get("PYTHONPATH")] if p])
    return env


@pytest.mark.parametrize("example", EXAMPLES, ids=lambda e: e.name)
def test_readme_example(example, sample_site, tmp_path, request):
    if example.mark == "fragment":
        pytest.skip(f"fragment at README.md line {example.line}")
    if example.language in ("vbscript", "javascript"):
        pytest.skip("run under Wine by scripts/test-windows.sh")
    code = substituted(program_of(example, EXAMPLES), sample_site, str(tmp_path))
    if example.language == "python":
        if re.search(r"^def test_", code, re.MULTILINE):
            script = tmp_path / "test_readme_example.py"
            script.write_text(code, encoding="utf-8")
            _run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(script)], tmp_path, _python_env())
        else:
            script = tmp_path / "example.py"
            script.write_text(code, encoding="utf-8")
            _run([sys.executable, str(script)], tmp_path, _python_env())
    else:
        prefix = request.getfixturevalue("installed_prefix")
        source = tmp_path / "example.cpp"
        source.write_text(cpp_program(code), encoding="utf-8")
        libdir = pathlib.Path(next(prefix.rglob("libvarne.so"))).parent
        compiler = os.environ.get("CXX", "c++")
        _run([compiler, "-std=c++20", f"-I{prefix / 'include'}", str(source), "-o", str(tmp_path / "example"),
              f"-L{libdir}", "-lvarne", f"-Wl,-rpath,{libdir}"], tmp_path)
        _run([str(tmp_path / "example")], tmp_path)


def extract(folder, base, windows_folder):
    """Writes the VBScript and JScript examples as files for cscript; prints their names."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for example in EXAMPLES:
        if example.language not in ("vbscript", "javascript"):
            continue
        if example.mark == "fragment":
            print(f"skipped {example.name}: fragment")
            continue
        code = program_of(example, EXAMPLES).replace(README_BASE, base).replace("C:\\runs\\", windows_folder.rstrip("\\") + "\\")
        # Wine's script host exits 0 and silently on a script error: a last line shows the end was reached.
        code += 'WScript.Echo "README example ended"\n' if example.language == "vbscript" else 'WScript.Echo("README example ended");\n'
        path = folder / f"{example.name}.{LANGUAGES[example.language]}"
        path.write_text(code.replace("\n", "\r\n"), encoding="utf-8")
        print(path.name)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--extract", required=True, help="folder for the script files")
    parser.add_argument("--base", default=README_BASE, help="address that serves examples/sample_site")
    parser.add_argument("--folder", default="C:\\runs\\", help="Windows folder for the files the scripts write")
    arguments = parser.parse_args()
    extract(arguments.extract, arguments.base, arguments.folder)
