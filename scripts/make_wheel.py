#!/usr/bin/env python3
"""Writes the Python wheel of Varne from a finished build, without network or build tools.

    make_wheel.py BUILD_DIR OUTPUT_DIR

It installs the build's python and runtime components into a scratch folder, puts what the
python component installs into Debian's module folder at the wheel's root (the module, and
any metadata folder of its own, such as entry points), the shared library into varne.libs/
(where the module's run path looks), and writes the dist-info with its RECORD. The wheel is
tagged for the interpreter that runs this script, which must be the one the module was built for.
"""

import base64
import hashlib
import pathlib
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

MODULE_FOLDER = pathlib.Path("lib/python3/dist-packages")
LIBRARY_FOLDER = "varne.libs"
# A fixed time for every entry, so that one build gives one wheel.
ZIP_TIME = (2020, 1, 1, 0, 0, 0)


def project_version(build: pathlib.Path) -> str:
    cache = (build / "CMakeCache.txt").read_text()
    match = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.+)$", cache, re.MULTILINE)
    if not match:
        sys.exit(f"make_wheel: no project version in {build / 'CMakeCache.txt'}")
    return match.group(1)


def wheel_tag() -> str:
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def stage(build: pathlib.Path, root: pathlib.Path) -> None:
    for component in ("runtime", "python"):
        subprocess.run(
            ["cmake", "--install", str(build), "--component", component, "--prefix", str(root), "--strip"],
            check=True,
            stdout=subprocess.DEVNULL,
        )


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main() -> None:
    if len(sys.argv) != 3:
        sys.exit("usage: make_wheel.py BUILD_DIR OUTPUT_DIR")
    build = pathlib.Path(sys.argv[1]).resolve()
    output = pathlib.Path(sys.argv[2])
    version = project_version(build)
    tag = wheel_tag()
    dist_info = f"varne-{version}.dist-info"

    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        stage(build, root)
        modules = root / MODULE_FOLDER
        if not any(modules.glob("varne*.so")):
            sys.exit(f"make_wheel: the build installs no module into {MODULE_FOLDER}")
        libraries = [p for p in root.glob("lib*/**/libvarne.so.*") if p.is_file() and not p.is_symlink()]
        if len(libraries) != 1:
            sys.exit(f"make_wheel: expected one libvarne.so.*, found {libraries}")
        soname = re.match(r"libvarne\.so\.\d+", libraries[0].name).group(0)

        files: dict[str, bytes] = {}
        extra_metadata: dict[str, bytes] = {}
        for path in sorted(modules.rglob("*")):
            if not path.is_file():
                continue
            relative = path.relative_to(modules)
            if relative.parts[0].endswith(".dist-info"):
                # Metadata the module's build wrote (entry points and the like); the wheel's
                # own files below replace any of the same name.
                extra_metadata[pathlib.PurePosixPath(*relative.parts[1:]).as_posix()] = path.read_bytes()
            else:
                files[relative.as_posix()] = path.read_bytes()
        files[f"{LIBRARY_FOLDER}/{soname}"] = libraries[0].read_bytes()

    metadata = {name: data for name, data in extra_metadata.items() if name not in ("RECORD", "WHEEL", "INSTALLER")}
    metadata["METADATA"] = (
        "Metadata-Version: 2.1\n"
        "Name: varne\n"
        f"Version: {version}\n"
        "Summary: Drives a Chromium browser through web pages, timing and logging each step\n"
        f"Requires-Python: =={sys.version_info.major}.{sys.version_info.minor}.*\n"
    ).encode()
    metadata["WHEEL"] = (
        f"Wheel-Version: 1.0\nGenerator: varne make_wheel.py\nRoot-Is-Purelib: false\nTag: {tag}\n"
    ).encode()
    for name, data in metadata.items():
        files[f"{dist_info}/{name}"] = data

    record = [record_line(name, data) for name, data in files.items()]
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()

    output.mkdir(parents=True, exist_ok=True)
    wheel = output / f"varne-{version}-{tag}.whl"
    partial = wheel.with_suffix(".partial")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            entry = zipfile.ZipInfo(name, ZIP_TIME)
            entry.external_attr = (0o755 if name.endswith(".so") or ".so." in name else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    shutil.move(partial, wheel)
    print(wheel)


if __name__ == "__main__":
    main()
