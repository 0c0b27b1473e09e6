"""Runs every ```python block of python/README.md, in order, in one fresh
folder, as a newcomer would paste them into python3. Usage:
python_readme.py README (with the package on PYTHONPATH and ZORBU_LIBRARY
naming the library)."""
import os
import re
import subprocess
import sys
import tempfile

with open(sys.argv[1], encoding="utf-8") as f:
    blocks = re.findall(r"^```python\n(.*?)^```", f.read(), re.M | re.S)
if not blocks:
    sys.exit("no python blocks found")
with tempfile.TemporaryDirectory() as tmp:
    for block in blocks:
        print(block, end="")
        subprocess.run([sys.executable, "-c", block], cwd=tmp, check=True)
print(f"{len(blocks)} python blocks ran")
