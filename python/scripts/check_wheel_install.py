#!/usr/bin/env python3
"""Checks that the qir wheel installs offline into a virtual environment.

    check_wheel_install.py --package-dir build/python/qir --version 3.0.0

Writes the wheel (make_wheel.py) into a temporary folder, makes a virtual
environment there with this Python's venv module and --system-site-packages,
installs the wheel with `pip install --no-index` (Debian's pip, from the
system site packages), and imports qir in the environment from a folder
where nothing else provides it: the import must come from the environment
and send one frame to an emulated unit on loopback. Removes everything it
made. Exit status: 0 passed, 1 failed, 2 usage.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
from pathlib import Path

PROBE = """
import sys, qir
assert qir.__file__.startswith(sys.prefix), qir.__file__
with qir.EmulatedUnit() as emulated:
    with qir.Unit(control=emulated.control, data=emulated.data).channel(0) as channel:
        channel.init(8, 2)
        channel.send_frame(bytes(range(16)), frame=0)
    assert emulated.wait_for_frames(1)
    assert emulated.summary()[0].frames_complete == 1
print("qir", qir.__version__, "from", qir.__file__)
"""


def run(command: list[str], **kwargs) -> None:
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True, **kwargs)


def main() -> int:
    parser = argparse.ArgumentParser(description="Checks that the qir wheel installs offline into a venv.")
    parser.add_argument("--package-dir", required=True, type=Path)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    here = Path(__file__).resolve().parent
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env["PIP_NO_INDEX"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    try:
        with tempfile.TemporaryDirectory(prefix="qir-wheel-") as tmp:
            tmp_path = Path(tmp)
            run([sys.executable, str(here / "make_wheel.py"), "--package-dir", str(args.package_dir),
                 "--version", args.version, "--out-dir", str(tmp_path / "dist")])
            wheels = list((tmp_path / "dist").glob("qir-*.whl"))
            if len(wheels) != 1:
                print(f"check_wheel_install.py: expected one wheel, found {wheels}", file=sys.stderr)
                return 1
            venv = tmp_path / "venv"
            # The system's pip serves the environment through its system site
            # packages, so the environment needs no pip of its own.
            run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", str(venv)])
            python = str(venv / "bin" / "python")
            run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--quiet", str(wheels[0])], env=env)
            run([python, "-c", PROBE], env=env, cwd=tmp)
    except subprocess.CalledProcessError as error:
        print(f"check_wheel_install.py: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("check_wheel_install.py: interrupted", file=sys.stderr)
        return 130
    print("check_wheel_install.py: the wheel installs offline and imports")
    return 0


if __name__ == "__main__":
    sys.exit(main())
