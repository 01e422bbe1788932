#!/bin/sh
# The Python module's tests: pytest on tests/python with the built module first on the
# path. Skipped (status 77) with a message where the module was not built or pytest is
# missing. Nothing is written into the source tree (no bytecode, no pytest cache).
#
# Usage: sh tests/python/run.sh PYTHON MODULE_DIR VARLOX_VIEW SOURCE_DIR [PYTEST ARGUMENTS...]
python=$1 module_dir=$2 view=$3 source=$4
shift 4
if [ -z "$python" ] || ! [ -d "$module_dir" ]; then
    echo "The Python module was not built (pybind11, or a Python with NumPy and its headers, not found): skipped"
    exit 77
fi
if ! "$python" -c 'import pytest' 2>/dev/null; then
    echo "pytest is not installed for $python (Debian: python3-pytest): skipped"
    exit 77
fi
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$module_dir${PYTHONPATH:+:$PYTHONPATH} VARLOX_VIEW=$view VARLOX_SOURCE=$source \
    exec "$python" -m pytest -q -p no:cacheprovider "$@" "$source/tests/python"
