"""python3 -m plix.batch SRC DST --to png|plix|bmp [--qfactor N --matrix M --mode yuv|rgb]
                      [--workers N | --scheduler tcp://HOST:PORT] [--max-pixels N] [--force]
                      [--png-compression N]

Converts a whole folder tree on a Dask cluster; see docs/python.md. The code
lives in plix._batch, so that workers import the tasks by name whichever
module runs as __main__."""
import sys

from ._batch import convert, main, plan  # noqa: F401

if __name__ == "__main__":
    sys.exit(main())
