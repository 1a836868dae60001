#!/usr/bin/env python3
"""Writes the wheel of the qir package from a built package folder.

    make_wheel.py --package-dir build/python/qir --version 3.0.0 --out-dir build/python/dist

Needs nothing but Python's standard library (no network, no package index):
the wheel is a zip of the package files and a .dist-info folder with
METADATA, WHEEL and RECORD (sha256 and size of every file). The wheel is
tagged for the Python running this script, which must be the one the
extension was built for. The extension is copied without its debug
information when `strip` is available. The wheel appears only when it is
complete. Exit status: 0 written, 1 failed, 2 usage or bad input.
"""

from __future__ import annotations

import argparse
import base64
import hashlib
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile
from pathlib import Path

NAME = "qir"
SUMMARY = "Drive QIR units from Python: channels, frames, replay times, status, an emulated unit"
# Fixed times make the same inputs give the same wheel.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def wheel_tag() -> str:
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def package_files(package_dir: Path, strip: bool) -> list[tuple[str, bytes, bool]]:
    """(name in the wheel, bytes, executable) of every file of the package."""
    ext_suffix = sysconfig.get_config_var("EXT_SUFFIX")
    files = []
    extensions = 0
    for path in sorted(package_dir.iterdir()):
        if not path.is_file() or path.name.startswith(".") or path.suffix == ".pyc":
            continue
        is_extension = path.name.endswith(ext_suffix)
        extensions += is_extension
        data = read_stripped(path) if is_extension and strip else path.read_bytes()
        files.append((f"{NAME}/{path.name}", data, is_extension))
    if extensions != 1:
        raise ValueError(f"{package_dir} holds {extensions} extension modules ending in {ext_suffix}, needs exactly 1")
    return files


def read_stripped(path: Path) -> bytes:
    strip = shutil.which("strip")
    if strip is None:
        return path.read_bytes()
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / path.name
        subprocess.run([strip, "--strip-debug", "-o", str(out), str(path)], check=True)
        return out.read_bytes()


def metadata(version: str, readme: str) -> str:
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {NAME}\n"
        f"Version: {version}\n"
        f"Summary: {SUMMARY}\n"
        "Requires-Python: >=3.11\n"
        "Description-Content-Type: text/markdown\n"
        "\n"
        f"{readme}"
    )


def wheel_info(tag: str) -> str:
    return f"Wheel-Version: 1.0\nGenerator: qir make_wheel.py\nRoot-Is-Purelib: false\nTag: {tag}\n"


def write_wheel(package_dir: Path, version: str, out_dir: Path, readme: str, strip: bool) -> Path:
    tag = wheel_tag()
    info = f"{NAME}-{version}.dist-info"
    entries = package_files(package_dir, strip)
    entries.append((f"{info}/METADATA", metadata(version, readme).encode(), False))
    entries.append((f"{info}/WHEEL", wheel_info(tag).encode(), False))
    entries.append((f"{info}/top_level.txt", f"{NAME}\n".encode(), False))
    record = "".join(record_line(name, data) + "\n" for name, data, _ in entries) + f"{info}/RECORD,,\n"
    entries.append((f"{info}/RECORD", record.encode(), False))

    out_dir.mkdir(parents=True, exist_ok=True)
    target = out_dir / f"{NAME}-{version}-{tag}.whl"
    fd, partial = tempfile.mkstemp(prefix=f".{target.name}.", dir=out_dir)
    os.close(fd)
    try:
        with zipfile.ZipFile(partial, "w", compression=zipfile.ZIP_DEFLATED) as wheel:
            for name, data, executable in entries:
                item = zipfile.ZipInfo(name, date_time=ZIP_TIME)
                item.compress_type = zipfile.ZIP_DEFLATED
                item.external_attr = (0o755 if executable else 0o644) << 16
                wheel.writestr(item, data)
        os.chmod(partial, 0o644)
        os.replace(partial, target)
    except BaseException:
        os.unlink(partial)
        raise
    return target


def main() -> int:
    parser = argparse.ArgumentParser(description="Writes the wheel of the qir package from a built package folder.")
    parser.add_argument("--package-dir", required=True, type=Path, help="the built package folder (build/python/qir)")
    parser.add_argument("--version", required=True, help="the package version (the project's)")
    parser.add_argument("--out-dir", required=True, type=Path, help="where the wheel goes")
    parser.add_argument("--readme", type=Path, help="Markdown text for the wheel's description")
    parser.add_argument("--no-strip", action="store_true", help="keep the extension's debug information")
    args = parser.parse_args()
    if not args.package_dir.is_dir():
        print(f"make_wheel.py: package folder {args.package_dir} does not exist", file=sys.stderr)
        return 2
    try:
        readme = args.readme.read_text() if args.readme else ""
        target = write_wheel(args.package_dir, args.version, args.out_dir, readme, not args.no_strip)
    except KeyboardInterrupt:
        print("make_wheel.py: interrupted; no wheel written", file=sys.stderr)
        return 130
    except ValueError as error:
        print(f"make_wheel.py: {error}", file=sys.stderr)
        return 2
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"make_wheel.py: {error}; no wheel written", file=sys.stderr)
        return 1
    print(f"make_wheel.py: wrote {target}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
