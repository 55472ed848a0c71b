"""oru.smooth on a 1920 x 1080 float32 RGBA frame against the module's own
time for the same frame (oru filter --timing: "the module", on a sequence
of 8 copies in one process, as a host's instance lives from frame to
frame). Prints the median of each over the runs and their ratio. Not a
test: nothing here asserts a time.

    PYTHONPATH=build python3 bench/python_bench.py [build/oru] [runs]
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import OpenImageIO as oiio

import oru

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
program = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build", "oru")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7

# The sample tiled to 1920 x 1080: rendered edges all over the frame.
config = oiio.ImageSpec()
config.attribute("oiio:UnassociatedAlpha", 1)
sample = oiio.ImageInput.open(os.path.join(top, "examples", "sample.png"), config)
tile = sample.read_image("float")
sample.close()
frame = np.ascontiguousarray(np.tile(tile, (5, 6, 1))[:1080, :1920])

with tempfile.TemporaryDirectory() as folder:
    for number in range(1, 9):
        given = os.path.join(folder, f"frame.{number}.exr")
        out = oiio.ImageOutput.create(given)
        out.open(given, oiio.ImageSpec(1920, 1080, 4, "float"))
        out.write_image(frame)
        out.close()
    # In turns, so that a machine busy with other work weighs on all three alike.
    f = oru.Filter()
    f.smooth(frame)  # the first frame pays for the module's buffers
    module_ms, python_ms, smooth_ms = [], [], []
    for _ in range(runs):
        timing = subprocess.run([program, "filter", os.path.join(folder, "frame.%d.exr"), "-o",
                                 os.path.join(folder, "out.%d.exr"), "-j", "1", "--timing"],
                                check=True, capture_output=True, text=True).stderr
        module_ms.append(float(re.search(r"the module ([0-9.]+) ms", timing).group(1)))
        for call, times in [(f.smooth, python_ms), (oru.smooth, smooth_ms)]:
            start = time.perf_counter()
            call(frame)
            times.append((time.perf_counter() - start) * 1e3)

module = statistics.median(module_ms)
for name, times in [("Filter.smooth", python_ms), ("oru.smooth", smooth_ms)]:
    ms = statistics.median(times)
    print(f"1920x1080 float32 RGBA: {name} {ms:.1f} ms, the module in oru filter "
          f"{module:.1f} ms: {ms / module:.2f}x")
