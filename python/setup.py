"""The opos package: OPOS POS printers and cash drawers from Python, over
libopos-control's C interface (ctypes, no compiled code)."""
from setuptools import setup

setup(
    name="opos",
    version="1.0.0",
    description="OPOS POS printers and cash drawers over libopos-control",
    packages=["opos"],
    package_data={"opos": ["py.typed"]},
    python_requires=">=3.9",
)
