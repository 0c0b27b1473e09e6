"""The build backend of zorbu's Python package (PEP 517): builds libzorbu
from the clone this folder is in, with cmake, and writes a wheel holding
the module and that library. It needs nothing beyond the standard library,
cmake and a C++ compiler, so that it builds offline, in a plain venv,
without root."""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sysconfig
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_ROOT = os.path.dirname(_HERE)
_LIBRARY = "libzorbu.so.1"


def _project():
    """Return name, summary and Python requirement from pyproject.toml, and
    the version from the C library's header, the one place it is written."""
    with open(os.path.join(_HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    project = text[text.index("[project]"):]
    fields = {}
    for key in ("name", "description", "requires-python"):
        match = re.search(r'^%s = "([^"]*)"' % re.escape(key), project, re.M)
        fields[key] = match.group(1)
    with open(os.path.join(_ROOT, "include", "zorbu.h"), encoding="utf-8") as f:
        header = f.read()
    fields["version"] = ".".join(
        re.search(r"^#define ZORBU_VERSION_%s (\d+)$" % part, header, re.M).group(1)
        for part in ("MAJOR", "MINOR", "PATCH"))
    return fields


def _build_library(build_dir):
    """Build libzorbu with cmake into build_dir; return the library file."""
    if not os.path.exists(os.path.join(_ROOT, "lib", "api", "zorbu.cpp")):
        raise RuntimeError("zorbu's Python package builds from a clone of "
                           f"zorbu, with its C sources beside it: {_ROOT}")
    configure = ["cmake", "-S", _ROOT, "-B", build_dir,
                 "-DCMAKE_BUILD_TYPE=Release", "-DZORBU_TESTS=OFF",
                 "-DZORBU_WERROR=OFF"]
    if shutil.which("ninja") and not os.path.exists(
            os.path.join(build_dir, "Makefile")):
        configure += ["-G", "Ninja"]
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "zorbu_shared",
                    "--parallel", str(os.cpu_count() or 1)], check=True)
    return os.path.realpath(os.path.join(build_dir, _LIBRARY))


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest())
    return f"{name},sha256={digest.rstrip(b'=').decode()},{len(data)}"


def _metadata(fields):
    with open(os.path.join(_HERE, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    return (f"Metadata-Version: 2.1\nName: {fields['name']}\n"
            f"Version: {fields['version']}\nSummary: {fields['description']}\n"
            "License: MIT\n"
            f"Requires-Python: {fields['requires-python']}\n"
            "Classifier: Programming Language :: Python :: 3\n"
            "Classifier: License :: OSI Approved :: MIT License\n"
            "Classifier: Operating System :: POSIX :: Linux\n"
            "Classifier: Typing :: Typed\n"
            "Description-Content-Type: text/markdown\n\n" + readme)


def _tag():
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"py3-none-{platform}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    fields = _project()
    library = _build_library(os.path.join(_HERE, "build", "libzorbu"))
    info = f"{fields['name']}-{fields['version']}.dist-info"
    files = []
    modules = sorted(n for n in os.listdir(os.path.join(_HERE, "zorbu"))
                     if n.endswith(".py"))
    for name in modules + ["py.typed"]:
        with open(os.path.join(_HERE, "zorbu", name), "rb") as f:
            files.append((f"zorbu/{name}", f.read(), 0o644))
    with open(library, "rb") as f:
        files.append((f"zorbu/{_LIBRARY}", f.read(), 0o755))
    files.append((f"{info}/METADATA", _metadata(fields).encode(), 0o644))
    files.append((f"{info}/WHEEL", ("Wheel-Version: 1.0\nGenerator: zorbu_build\n"
                                    "Root-Is-Purelib: false\n"
                                    f"Tag: {_tag()}\n").encode(), 0o644))
    with open(os.path.join(_ROOT, "LICENSE"), "rb") as f:
        files.append((f"{info}/LICENSE", f.read(), 0o644))
    record = "".join(_record_line(name, data) + "\n" for name, data, _ in files)
    record += f"{info}/RECORD,,\n"
    files.append((f"{info}/RECORD", record.encode(), 0o644))
    wheel = f"{fields['name']}-{fields['version']}-{_tag()}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel), "w",
                         zipfile.ZIP_DEFLATED) as archive:
        for name, data, mode in files:
            entry = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            entry.external_attr = (0o100000 | mode) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    return wheel
