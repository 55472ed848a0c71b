"""The Python module oru against the oru program, its conversions, threads
and errors. Run by CTest with PYTHONPATH at the build folder."""
import os
import subprocess
import threading

import numpy as np
import OpenImageIO as oiio
import pytest

import oru

PROGRAM = os.environ.get("ORU_PROGRAM", "oru")
SAMPLE = os.environ["ORU_SAMPLE"]
SETTINGS = [dict(), dict(target="rgb", threshold=200, strength=60)]


def read(path, pixel_type="uint8"):
    """The samples as stored, as the oru program reads them."""
    config = oiio.ImageSpec()
    config.attribute("oiio:UnassociatedAlpha", 1)
    image = oiio.ImageInput.open(path, config)
    assert image, oiio.geterror()
    pixels = image.read_image(pixel_type)
    image.close()
    return pixels


def write(path, pixels, pixel_type):
    out = oiio.ImageOutput.create(path)
    h, w = pixels.shape[:2]
    channels = pixels.shape[2] if pixels.ndim == 3 else 1
    layout = oiio.ImageSpec(w, h, channels, pixel_type)
    layout.attribute("oiio:UnassociatedAlpha", 1)
    assert out.open(path, layout)
    assert out.write_image(pixels)
    out.close()


def flags(settings):
    return [a for k, v in settings.items() for a in (f"--{k}", str(v))]


@pytest.fixture(scope="module")
def sample16(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("files") / "sample16.png")
    write(path, read(SAMPLE, "uint16"), "uint16")
    return path


@pytest.mark.parametrize("settings", SETTINGS, ids=["defaults", "rgb-200-60"])
@pytest.mark.parametrize("bits", ["uint8", "uint16"])
def test_equals_oru_filter(bits, settings, sample16, tmp_path):
    given = SAMPLE if bits == "uint8" else sample16
    written = str(tmp_path / "out.png")
    subprocess.run([PROGRAM, "filter", given, "-o", written, "--quiet", *flags(settings)],
                   check=True)
    image = read(given, bits)
    assert image.dtype == np.dtype(bits)
    np.testing.assert_array_equal(oru.smooth(image, **settings), read(written, bits))
    np.testing.assert_array_equal(oru.Filter(**settings).smooth(image), read(written, bits))


def as_float_rgba(image):
    """The float RGBA frame the module is handed for image."""
    scale = {np.uint8: 255.0, np.uint16: 65535.0}.get(image.dtype.type)
    samples = image.astype(np.float32) / np.float32(scale) if scale else image.astype(np.float32)
    if samples.ndim == 2:
        samples = np.repeat(samples[:, :, None], 3, axis=2)
    if samples.shape[2] == 3:
        samples = np.dstack([samples, np.ones(samples.shape[:2], np.float32)])
    return samples


def as_written(result, like):
    """The module's float RGBA result as written back for an image like like."""
    result = result[:, :, : like.shape[2]] if like.ndim == 3 else result[:, :, 0]
    if like.dtype.kind == "f":
        return result.astype(like.dtype)
    scale = np.float32(np.iinfo(like.dtype).max)
    clamped = np.clip(np.nan_to_num(result, nan=0.0), 0.0, 1.0)
    return (clamped * scale + np.float32(0.5)).astype(like.dtype)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32, np.float64])
@pytest.mark.parametrize("channels", [1, 3, 4])
@pytest.mark.parametrize("layout", ["contiguous", "strided"])
def test_every_dtype_shape_and_layout(dtype, channels, layout):
    rgba = read(SAMPLE, "float")[:96, :128]
    rgba = rgba if rgba.shape[2] == 4 else np.dstack([rgba, np.ones(rgba.shape[:2], np.float32)])
    if dtype in (np.uint8, np.uint16):
        image = (rgba * np.iinfo(dtype).max).round().astype(dtype)
    else:
        image = (rgba * 1.25 - 0.1).astype(dtype)  # outside 0..1 as renders are
    image = image[:, :, 0] if channels == 1 else image[:, :, :channels]
    if layout == "strided":
        image = np.asfortranarray(image)[::-1]
    else:
        image = np.ascontiguousarray(image)
    before = image.copy()

    got = oru.smooth(image)
    assert got.shape == image.shape and got.dtype == image.dtype
    np.testing.assert_array_equal(image, before)
    expected = as_written(oru.smooth(as_float_rgba(image)), image)
    np.testing.assert_array_equal(got, expected)


def test_filter_settings_and_blocks(tmp_path):
    f = oru.Filter(target="alpha", threshold=10, strength=5)
    assert (f.target, f.threshold, f.strength) == ("alpha", 10, 5)
    saved = str(tmp_path / "saved.oru")
    subprocess.run([PROGRAM, "filter", "--target", "alpha", "--threshold", "10", "--strength",
                    "5", "--save-settings", saved], check=True)
    with open(saved, "rb") as block:
        assert f.settings_block == block.read()
    f.strength = 70
    other = oru.Filter()
    other.settings_block = f.settings_block
    assert (other.target, other.threshold, other.strength) == ("alpha", 10, 70)
    assert os.path.samefile(other.module_path, oru.module_path)
    assert oru.__version__ in subprocess.run([PROGRAM, "--version"], check=True,
                                             capture_output=True, text=True).stdout


def test_two_threads_at_once():
    base = read(SAMPLE, "float")
    images = [np.ascontiguousarray(np.tile(base, (2, 2, 1))),
              np.ascontiguousarray(np.tile(base[::-1], (2, 2, 1)))]
    expected = [oru.smooth(image) for image in images]
    results = [[] for _ in images]

    def run(i):
        for _ in range(3):
            results[i].append(oru.smooth(images[i]))

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for want, got in zip(expected, results):
        assert len(got) == 3
        for result in got:
            np.testing.assert_array_equal(result, want)


GREY = np.zeros((8, 8), np.uint8)
ERRORS = [
    (lambda: oru.smooth(np.zeros((8, 8), np.int32)), TypeError, "int32"),
    (lambda: oru.smooth(np.zeros((8, 8, 3), bool)), TypeError, "bool"),
    (lambda: oru.smooth(np.zeros(8, np.uint8)), ValueError, "(8,)"),
    (lambda: oru.smooth(np.zeros((8, 8, 2), np.uint8)), ValueError, "(8, 8, 2)"),
    (lambda: oru.smooth(np.zeros((2, 8, 8, 4), np.uint8)), ValueError, "H x W x 4"),
    (lambda: oru.smooth(np.zeros((0, 8, 4), np.float32)), ValueError, "(0, 8, 4)"),
    (lambda: oru.smooth(GREY, threshold=256), ValueError, "threshold 256"),
    (lambda: oru.smooth(GREY, strength=-1), ValueError, "strength -1"),
    (lambda: oru.smooth(GREY, target="cmyk"), ValueError, "cmyk"),
    (lambda: setattr(oru.Filter(), "strength", 101), ValueError, "strength 101"),
    (lambda: setattr(oru.Filter(), "settings_block", b"0 100 224"), ValueError, "9 bytes"),
    (lambda: oru.load_module("/no/such/oru.p"), OSError, "/no/such/oru.p"),
    (lambda: oru.load_module(SAMPLE), OSError, SAMPLE),
]


@pytest.mark.parametrize("call, error, named", ERRORS, ids=[e[2] for e in ERRORS])
def test_errors_name_what_was_given(call, error, named):
    with pytest.raises(error) as caught:
        call()
    assert named in str(caught.value)
    assert oru.smooth(GREY).shape == GREY.shape  # the module in use is still there
