"""Build backend of the qvschedule package (`pip install .` from the repository).

It needs nothing but the standard library, so pip has nothing to download, with or without build
isolation: the extension is built by the project's CMake build (cmake, ninja, a C++ compiler,
pybind11 and expat from the system, as scripts/install-deps installs them) and the package
directory it produces is zipped into a wheel for the running interpreter.

The build goes to build/wheel in the repository (kept between installs, so a second install only
rebuilds what changed), or to the build folder named by QVSCHEDULE_BUILD_DIR, which must have been
configured for this interpreter already (the tests use the folder they run from).
"""

import base64
import hashlib
import os
import re
import subprocess
import sys
import sysconfig
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = "qvschedule"


def _version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(QVSchedule VERSION ([0-9.]+)", cmake.read()).group(1)


def _tag():
    interpreter = f"{sys.implementation.name[:2]}{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}-{platform}"


def _run(command):
    print("+", " ".join(command), file=sys.stderr, flush=True)
    subprocess.run(command, check=True, stdout=sys.stderr)


def _build_package():
    """Builds the extension; returns the package directory of the build."""
    build = os.environ.get("QVSCHEDULE_BUILD_DIR")
    if not build:
        build = os.path.join(ROOT, "build", "wheel")
        _run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
              "-DQV_BUILD_TESTS=OFF", "-DQV_BUILD_BENCH=OFF", "-DQV_BUILD_PYTHON=ON",
              f"-DPython_EXECUTABLE={sys.executable}"])
    _run(["cmake", "--build", build, "--target", "qvschedule_core", "-j", str(os.cpu_count() or 1)])
    package = os.path.join(build, "python", NAME)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    if not os.path.exists(os.path.join(package, "_core" + suffix)):
        raise RuntimeError(f"{build} holds no extension built for this interpreter (_core{suffix})")
    return package


def _write(wheel, name, data):
    entry = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
    entry.external_attr = 0o644 << 16
    entry.compress_type = zipfile.ZIP_DEFLATED
    wheel.writestr(entry, data)


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _metadata(version):
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {version}\n"
            "Summary: The QVSchedule scheduler library, with a Python program as its host\n"
            "Requires-Python: >=3.8\n")


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    package = _build_package()
    version, tag = _version(), _tag()
    info = f"{NAME}-{version}.dist-info"
    files = {f"{NAME}/{entry}": os.path.join(package, entry) for entry in sorted(os.listdir(package))
             if entry.endswith((".py", ".so"))}
    generated = {f"{info}/METADATA": _metadata(version),
                 f"{info}/WHEEL": f"Wheel-Version: 1.0\nGenerator: {NAME}-build\nRoot-Is-Purelib: false\nTag: {tag}\n"}
    wheel_name = f"{NAME}-{version}-{tag}.whl"
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w") as wheel:
        for name, path in files.items():
            with open(path, "rb") as source:
                data = source.read()
            _write(wheel, name, data)
            records.append(_record_line(name, data))
        for name, text in generated.items():
            _write(wheel, name, text.encode())
            records.append(_record_line(name, text.encode()))
        records.append(f"{info}/RECORD,,")
        _write(wheel, f"{info}/RECORD", ("\n".join(records) + "\n").encode())
    return wheel_name
