#!/usr/bin/env bash
# pip install ./python in a virtual environment that sees Debian's packages,
# offline and with Debian's setuptools, as docs/python.md says; then the
# package from there, with a copy of the library beside it and nothing else
# pointing at the build.
# Usage: check_pip.sh SOURCE_DIR LIBPLIXCODEC SCRATCH_DIR PYTHON
set -euo pipefail
src=$1
lib=$2
scratch=$3
python=$4
rm -rf "$scratch"
mkdir -p "$scratch"
fail() { echo "FAIL: $*"; exit 1; }

# A copy, as the build writes beside the sources.
cp -r "$src/python" "$scratch/python-src"
cp "$lib" "$scratch/python-src/plix/libplixcodec.so.1"
"$python" -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install -q --no-build-isolation --no-deps --no-index \
  "$scratch/python-src" >"$scratch/pip.log" 2>&1 || { cat "$scratch/pip.log"; fail "pip install"; }

cd "$scratch"
env -u LD_LIBRARY_PATH -u PYTHONPATH -u PLIXCODEC_LIBRARY "$scratch/venv/bin/python" - \
  "$PLIX_TEST_DATA/conformance" <<'PY' || fail "the package installed by pip"
import os, sys
import numpy as np
import plix
from plix import _library

here = os.path.dirname(plix.__file__)
assert here.startswith(sys.prefix), here
assert _library.lib._name == os.path.join(here, "libplixcodec.so.1"), _library.lib._name
conf = sys.argv[1]
a = plix.decode(os.path.join(conf, "cases", "mix_100x75_m0_q4_x0.plx"))
buf = np.fromfile(os.path.join(conf, "cases", "mix_100x75_m0_q4_x0.expected.buf"), np.uint8)
np.testing.assert_array_equal(a, buf.reshape(80, 104, 4)[:75, :100, 2::-1])
print("pip: plix %s in %s with %s" % (plix.__version__, here, _library.lib._name))
PY
