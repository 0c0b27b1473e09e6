"""Installs the zorbu package: pure Python over libzorbu through ctypes, so
nothing is compiled and nothing is needed beyond the standard library and
the library itself (Debian's libzorbu1, or ZORBU_LIBRARY for a prefix)."""
from setuptools import setup

setup(
    name="zorbu",
    version="0.5.0",
    description="Rewrite rt timed-text files in process, through libzorbu",
    long_description=open("README.md", encoding="utf-8").read(),
    long_description_content_type="text/markdown",
    license="MIT",
    packages=["zorbu"],
    package_data={"zorbu": ["py.typed"]},
    python_requires=">=3.9",
    classifiers=[
        "Programming Language :: Python :: 3",
        "License :: OSI Approved :: MIT License",
        "Operating System :: POSIX :: Linux",
        "Typing :: Typed",
    ],
)
