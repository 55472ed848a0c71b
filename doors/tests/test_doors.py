"""The GEGL operation and the frei0r filter against the oru program: one
table of door x picture x settings x environment, each result equal to what
`oru filter` writes for the same picture. Run by CTest with the build's
plug-in folders in ORU_GEGL_DIR and ORU_FREI0R_DIR."""
import ctypes
import os
import shutil
import subprocess
import threading

import numpy as np
import OpenImageIO as oiio
import pytest

PROGRAM = os.environ.get("ORU_PROGRAM", "oru")
SAMPLE = os.environ["ORU_SAMPLE"]
GEGL_DIR = os.environ.get("ORU_GEGL_DIR", "")  # the build's gegl/, then GEGL's own
FREI0R_DIR = os.environ.get("ORU_FREI0R_DIR", "")

# Settings as oru filter, oru:smooth and frei0r=oru spell them.
SETTINGS = {
    "defaults": ([], [], ""),
    "rgb-200-60": (["--target", "rgb", "--threshold", "200", "--strength", "60"],
                   ["target=rgb", "threshold=200", "strength=60"], "0.784314|0.6|y|n"),
    "alpha-255-30": (["--target", "alpha", "--threshold", "255", "--strength", "30"],
                     ["target=alpha", "threshold=255", "strength=30"], "1|0.3|n|y"),
}
TILED = {"GEGL_TILE_SIZE": "16x16", "GEGL_THREADS": "2"}
# Part of the output asked for (gegl:crop after the operation): x, y, w, h.
PART = (150, 100, 37, 21)

# door, picture, settings, extra environment, part of the output
CASES = [
    ("gegl", "sample", "defaults", {}, None),
    ("gegl", "sample", "rgb-200-60", {}, None),
    ("gegl", "sample", "defaults", TILED, None),
    ("gegl", "sample", "alpha-255-30", TILED, PART),
    ("gegl", "rgb", "defaults", TILED, None),
    ("gegl", "rgb", "rgb-200-60", {}, None),
    ("gegl", "1x1", "defaults", {}, None),
    ("gegl", "1x9", "defaults", {}, None),
    ("gegl", "exr", "rgb-200-60", {}, None),
    ("frei0r", "sample", "defaults", {}, None),
    ("frei0r", "sample", "rgb-200-60", {}, None),
    ("frei0r", "sample", "alpha-255-30", {}, None),
    ("frei0r", "rgb", "defaults", {}, None),
    ("frei0r", "rgb", "alpha-255-30", {}, None),
    ("frei0r", "9x1", "rgb-200-60", {}, None),
]


def read(path, pixel_type="uint8"):
    """The samples as stored (16-bit files rounded to 8 bits)."""
    config = oiio.ImageSpec()
    config.attribute("oiio:UnassociatedAlpha", 1)
    image = oiio.ImageInput.open(path, config)
    assert image, oiio.geterror()
    pixels = image.read_image(pixel_type)
    image.close()
    return pixels


def write(path, pixels):
    out = oiio.ImageOutput.create(path)
    layout = oiio.ImageSpec(pixels.shape[1], pixels.shape[0], pixels.shape[2], "uint8")
    layout.attribute("oiio:UnassociatedAlpha", 1)
    assert out.open(path, layout) and out.write_image(pixels)
    out.close()


@pytest.fixture(scope="module")
def pictures(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pictures")
    sample = read(SAMPLE)
    made = {"sample": SAMPLE}
    for name, pixels in [("rgb", sample[:, :, :3]), ("1x1", sample[120:121, 160:161]),
                         ("1x9", sample[100:109, 150:151]), ("9x1", sample[100:101, 150:159])]:
        made[name] = str(folder / f"{name}.png")
        write(made[name], np.ascontiguousarray(pixels))
    # Linear half floats with premultiplied colour, as renderers write EXR.
    made["exr"] = str(folder / "sample.exr")
    assert oiio.ImageBuf(SAMPLE).write(made["exr"], "half")
    return made


def need(door):
    folder, host = (GEGL_DIR, "gegl") if door == "gegl" else (FREI0R_DIR, "ffmpeg")
    if not folder or not shutil.which(host):
        pytest.skip(f"no {door} plug-in or no {host}")


def gegl_env(folder, extra=None):
    system = subprocess.run(["pkg-config", "--variable=pluginsdir", "gegl-0.4"],
                            capture_output=True, text=True).stdout.strip()
    return dict(os.environ, GEGL_PATH=f"{folder}:{system}", **(extra or {}))


def run_door(door, given, written, settings, extra=None, folder=None, part=None):
    if door == "gegl":
        command = ["gegl", "-i", given, "-o", written, "--", "oru:smooth", *SETTINGS[settings][1]]
        if part:
            command += ["gegl:crop", *(f"{k}={v}" for k, v in zip(["x", "y", "width", "height"], part))]
        env = gegl_env(folder or GEGL_DIR, extra)
    else:
        params = SETTINGS[settings][2]
        command = ["ffmpeg", "-v", "error", "-y", "-i", given,
                   "-vf", "frei0r=oru" + (":" + params if params else ""),
                   "-pix_fmt", "rgba", "-start_number", "0", written]
        env = dict(os.environ, FREI0R_PATH=folder or FREI0R_DIR)
    return subprocess.run(command, env=env, capture_output=True, text=True)


def oru_filter(given, written, settings, pixel_type="uint8"):
    subprocess.run([PROGRAM, "filter", given, "-o", written, "--quiet", *SETTINGS[settings][0]],
                   check=True)
    return read(written, pixel_type)


def same_pixels(door_out, expected):
    """Colour equal; alpha equal, or opaque where the picture had none.
    Floats up to half precision (oru writes half, gegl float)."""
    channels = expected.shape[2]
    np.testing.assert_allclose(door_out[:, :, :channels], expected, rtol=0, atol=1e-3)
    if channels == 3:
        assert (door_out[:, :, 3] == 255).all()


@pytest.mark.parametrize(
    "door,picture,settings,extra,part", CASES,
    ids=[f"{d}-{p}-{s}{'-tiled' if e else ''}{'-part' if c else ''}" for d, p, s, e, c in CASES])
def test_equals_oru_filter(door, picture, settings, extra, part, pictures, tmp_path):
    need(door)
    given = pictures[picture]
    kind, pixel_type = ("exr", "float") if picture == "exr" else ("png", "uint8")
    written = str(tmp_path / f"door.{kind}")
    done = run_door(door, given, written, settings, extra, part=part)
    assert done.returncode == 0, done.stderr
    expected = oru_filter(given, str(tmp_path / f"oru.{kind}"), settings, pixel_type)
    if part:
        x, y, w, h = part
        expected = expected[y:y + h, x:x + w]
    same_pixels(read(written, pixel_type), expected)


def test_frei0r_sequence_equals_oru_filter(pictures, tmp_path):
    need("frei0r")
    sample = read(SAMPLE)
    for i, frame in enumerate([sample, sample[::-1], sample[:, ::-1]]):
        write(str(tmp_path / f"shot_{i:02d}.png"), np.ascontiguousarray(frame))
    done = run_door("frei0r", str(tmp_path / "shot_%02d.png"), str(tmp_path / "out_%02d.png"),
                    "rgb-200-60")
    assert done.returncode == 0, done.stderr
    for i in range(3):
        frame = str(tmp_path / f"shot_{i:02d}.png")
        np.testing.assert_array_equal(read(str(tmp_path / f"out_{i:02d}.png")),
                                      oru_filter(frame, str(tmp_path / "oru.png"), "rgb-200-60"))


def test_gegl_lists_the_operation_and_its_properties():
    need("gegl")
    # gegl --info prints its operation-class line as raw bytes.
    info = subprocess.run(["gegl", "--info", "oru:smooth"], env=gegl_env(GEGL_DIR),
                          capture_output=True).stdout.decode(errors="replace")
    assert "categories           enhance:antialias" in info
    for line in ["target               [OruSmoothTarget]", "threshold            [gint]",
                 "strength             [gint]", "(default: 224)", "(default: 100)"]:
        assert line in info


@pytest.mark.parametrize("door", ["gegl", "frei0r"])
def test_a_module_that_cannot_load_is_reported(door, tmp_path):
    """An oru.p beside the plug-in comes first; an empty one cannot load."""
    need(door)
    folder = tmp_path / door
    folder.mkdir()
    built = GEGL_DIR if door == "gegl" else FREI0R_DIR
    shutil.copy(os.path.join(built, "oru.so"), folder / "oru.so")
    (folder / "oru.p").write_bytes(b"")
    done = run_door(door, SAMPLE, str(tmp_path / "out.png"), "defaults", folder=str(folder))
    assert done.returncode >= 0, done.stderr  # no crash
    message = "oru:smooth: " if door == "gegl" else "oru: "
    assert message in done.stderr and str(folder / "oru.p") in done.stderr, done.stderr
    if door == "frei0r":
        assert done.returncode != 0


def test_frei0r_instances_on_threads(pictures, tmp_path):
    """Two instances filtering frames at once on two threads, as video hosts
    do: each frame as oru filter writes it (ctypes drops the GIL in calls)."""
    need("frei0r")
    plugin = ctypes.CDLL(os.path.join(FREI0R_DIR, "oru.so"))
    plugin.f0r_construct.restype = ctypes.c_void_p
    plugin.f0r_construct.argtypes = [ctypes.c_uint, ctypes.c_uint]
    plugin.f0r_update.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p,
                                  ctypes.c_void_p]
    plugin.f0r_destruct.argtypes = [ctypes.c_void_p]
    assert plugin.f0r_init() == 1
    sample = np.ascontiguousarray(read(SAMPLE))
    expected = oru_filter(SAMPLE, str(tmp_path / "oru.png"), "defaults")
    results = []

    def frames():
        instance = plugin.f0r_construct(sample.shape[1], sample.shape[0])
        assert instance
        for _ in range(4):
            out = np.zeros_like(sample)
            plugin.f0r_update(instance, 0.0, sample.ctypes.data, out.ctypes.data)
            results.append(out)
        plugin.f0r_destruct(instance)

    threads = [threading.Thread(target=frames) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    plugin.f0r_deinit()
    assert len(results) == 8
    for out in results:
        np.testing.assert_array_equal(out, expected)
