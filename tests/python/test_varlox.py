"""The Python module against the program and against NumPy.

Every measurement is compared with what varlox-view writes for the same input and
options: the module's output set byte for byte, its arrays and summary value for value
(the files print each number with 17 digits, which read back to the same double). The
spectrum is compared with NumPy's transform, and with itself across threads, dtypes and
views. Errors, Ctrl-C, the GIL and memory running out are checked in their own cases.

Run by tests/python/run.sh, which sets VARLOX_VIEW (the program) and VARLOX_SOURCE (the
source tree) and puts the built module on PYTHONPATH.
"""
import csv
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import varlox

VIEW = os.environ["VARLOX_VIEW"]
SOURCE = os.environ["VARLOX_SOURCE"]
FORMATS = os.path.join(SOURCE, "tests", "data", "formats")


def surface(rows, columns, seed=1):
    """A rough surface of power-law spectrum, reproducible."""
    rng = np.random.default_rng(seed)
    fy = np.fft.fftfreq(rows)[:, None]
    fx = np.fft.fftfreq(columns)[None, :]
    k = np.hypot(fx, fy)
    k[0, 0] = 1
    return np.real(np.fft.ifft2(np.fft.fft2(rng.standard_normal((rows, columns))) * k ** -1.5))


def write_pgm(path, z):
    levels = np.round((z - z.min()) / (z.max() - z.min()) * 65535).astype(">u2")
    with open(path, "wb") as f:
        f.write(b"P5 %d %d 65535\n" % (z.shape[1], z.shape[0]) + levels.tobytes())


def read_table(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def bmp_pixels(path):
    """A 24-bit BMP's pixels as rows x columns x RGB, rows top-down."""
    data = open(path, "rb").read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    stride = (width * 3 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    pixels = rows[:, : width * 3].reshape(abs(height), width, 3)[:, :, ::-1]
    return pixels[::-1] if height > 0 else pixels


# --- the same numbers as the program ---------------------------------------------------

INPUTS = {
    "sample.bmp": lambda d: shutil.copy(os.path.join(SOURCE, "examples", "sample.bmp"), d),
    "scan.x3p": lambda d: shutil.copy(os.path.join(FORMATS, "x3ptools_csafe-logo.x3p"), os.path.join(d, "scan.x3p")),
    "scan.gwy": lambda d: shutil.copy(os.path.join(FORMATS, "topostats_file_landscape.gwy"), os.path.join(d, "scan.gwy")),
    "rect.pgm": lambda d: write_pgm(os.path.join(d, "rect.pgm"), surface(96, 160)),
}

# Each option set as the program's arguments and as the module's keywords.
OPTIONS = [
    ([], {}),
    (["--level", "plane", "--window", "hann", "--fit", "0.02:0.25/px"],
     {"level": "plane", "window": "hann", "fit": (0.02, 0.25, "px")}),
    (["--level", "mean", "--window", "tukey:0.3", "--band", "4:40/side", "--peaks", "3", "--acf", "--acf-threshold", "0.3"],
     {"level": "mean", "window": ("tukey", 0.3), "band": "4:40/side", "peaks": 3, "acf": True, "acf_threshold": 0.3}),
    (["--pixel-size", "2e-6,3e-6", "--z-scale", "1e-9", "--fit", "5:30/side", "--gray", "--decades", "3"],
     {"pixel_size": (2e-6, 3e-6), "z_scale": 1e-9, "fit": "5:30/side", "gray": True, "decades": 3}),
]


@pytest.mark.parametrize("name", sorted(INPUTS))
@pytest.mark.parametrize("case", range(len(OPTIONS)))
def test_measure_writes_and_returns_what_varlox_view_writes(tmp_path, monkeypatch, name, case):
    arguments, keywords = OPTIONS[case]
    # The sample is a BMP: varlox-view measures it only when an option asks it to; the
    # module always measures, as a measuring option would.
    if name.endswith(".bmp") and not arguments:
        arguments = ["--level", "none"]
    program, module = tmp_path / "program", tmp_path / "module"
    program.mkdir()
    module.mkdir()
    INPUTS[name](str(program))
    INPUTS[name](str(module))
    run = subprocess.run([VIEW, "--threads", "1", *arguments, name], cwd=program, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    monkeypatch.chdir(module)
    before = open(name, "rb").read()
    result = varlox.measure(name, write=True, **keywords)
    assert open(name, "rb").read() == before
    # The commit holds interrupts while it renames; Python's Ctrl-C works again after it.
    assert signal.SIGINT not in signal.pthread_sigmask(signal.SIG_BLOCK, [])

    written = sorted(f for f in os.listdir(program) if f != name)
    assert sorted(result.files) == written
    for f in written:
        assert (module / f).read_bytes() == (program / f).read_bytes(), f

    base = os.path.splitext(name)[0]
    tables = {"profile": "-full.csv", "angles": "-angles.csv", "peaks": "-peaks.csv"}
    for attribute, suffix in tables.items():
        header, rows = read_table(program / (base + suffix))
        columns = getattr(result, attribute)
        assert list(columns) == header
        for i, column in enumerate(header):
            expected = np.array([float(r[i]) if r[i] else np.nan for r in rows])
            np.testing.assert_array_equal(np.asarray(columns[column], dtype=float), expected, err_msg=column)
    header, rows = read_table(program / (base + "-summary.csv"))
    assert list(result.summary) == header
    for column, cell in zip(header, rows[0]):
        value = result.summary[column]
        if column in ("picture", "height_unit"):
            assert (value or "") == cell
        elif cell == "":
            assert value is None, column
        else:
            assert value == float(cell), column
    np.testing.assert_array_equal(result.log_picture, bmp_pixels(program / (base + "-as-log.bmp")))
    if keywords.get("acf"):
        header, rows = read_table(program / (base + "-acf.csv"))
        assert list(result.acf) == header
        assert len(result.acf["ring"]) == sum(1 for r in rows if r[0])
        assert len(result.acf["direction_deg"]) == 180
        picture = bmp_pixels(program / (base + "-acf.bmp"))
        assert result.acf_plane.shape == picture.shape[:2]
        assert result.acf_plane[result.acf_plane.shape[0] // 2, result.acf_plane.shape[1] // 2] == 1
    else:
        assert result.acf is None and result.acf_plane is None


def test_read_gives_heights_size_and_unit():
    scan = varlox.read(os.path.join(FORMATS, "x3ptools_csafe-logo.x3p"))
    assert scan.format == "x3p" and scan.unit == "m"
    assert scan.heights.dtype == np.float64 and scan.heights.ndim == 2
    assert all(d > 0 for d in scan.pixel_size)
    sample = varlox.read(os.path.join(SOURCE, "examples", "sample.bmp"))
    assert sample.format == "bmp" and sample.pixel_size is None and sample.unit is None
    assert sample.heights.shape == (256, 256) and sample.heights.min() >= 0 and sample.heights.max() <= 255


# --- the spectrum ----------------------------------------------------------------------

@pytest.mark.parametrize("shape", [(1, 1), (7, 5), (6, 9), (64, 64), (33, 48)])
def test_spectrum_is_the_centred_transform(shape):
    z = surface(*shape, seed=sum(shape))
    f = varlox.spectrum(z)
    model = np.fft.fftshift(np.fft.fft2(np.fft.fftshift(z)))
    assert f.dtype == np.complex128 and f.shape == shape
    assert np.abs(f - model).max() <= 1e-12 * max(np.abs(model).max(), 1)


def test_spectrum_bits_do_not_depend_on_threads_dtype_or_layout():
    levels = (surface(80, 96) * 40 + 128).clip(0, 255).astype(np.uint8)
    reference = varlox.spectrum(levels.astype(np.float64))
    for other in (varlox.spectrum(levels), varlox.spectrum(levels, threads=3),
                  varlox.spectrum(np.asfortranarray(levels.astype(np.float32)))):
        np.testing.assert_array_equal(other.view(np.float64), reference.view(np.float64))
    wide = np.zeros((80, 192))
    wide[:, ::2] = levels
    np.testing.assert_array_equal(varlox.spectrum(wide[:, ::2]).view(np.float64), reference.view(np.float64))


def test_the_input_array_is_not_changed():
    z = surface(64, 64) * 1e3
    keep = z.copy()
    varlox.spectrum(z)
    varlox.measure(z, level="plane", window="hann", fit="4:20", acf=True)
    np.testing.assert_array_equal(z, keep)


# --- errors ----------------------------------------------------------------------------

GOOD = surface(32, 32)
NAN = GOOD.copy()
NAN[3, 4] = np.nan

ERRORS = [
    (lambda: varlox.spectrum(np.zeros((4, 4), complex)), TypeError, "real numbers"),
    (lambda: varlox.spectrum("heights"), TypeError, "real numbers"),
    (lambda: varlox.spectrum(np.zeros((2, 3, 3))), ValueError, "2-D"),
    (lambda: varlox.spectrum(np.zeros((0, 4))), ValueError, "0 x 4"),
    (lambda: varlox.spectrum(NAN), ValueError, "row 3, column 4"),
    (lambda: varlox.spectrum(GOOD, threads=0), ValueError, "threads"),
    (lambda: varlox.spectrum(GOOD, threads="2"), TypeError, "threads"),
    (lambda: varlox.measure(GOOD, level="tilt"), ValueError, "--level takes"),
    (lambda: varlox.measure(GOOD, fit="9:8"), ValueError, "--fit"),
    (lambda: varlox.measure(GOOD, fit="400:500"), ValueError, "holds"),
    (lambda: varlox.measure(GOOD, fit=(4, 8, "/furlong")), ValueError, "--fit"),
    (lambda: varlox.measure(GOOD, colour=True), TypeError, "colour"),
    (lambda: varlox.measure(GOOD, peaks=True), TypeError, "peaks"),
    (lambda: varlox.measure(GOOD, channel=1), TypeError, "channel"),
    (lambda: varlox.measure(NAN), ValueError, "without a valid height"),
    (lambda: varlox.measure(np.full((8, 8), np.nan), fill=True), ValueError, "no point with a valid height"),
    (lambda: varlox.measure(GOOD, write=True), ValueError, "write"),
    (lambda: varlox.read("/nonexistent/scan.x3p"), OSError, "Could not read /nonexistent/scan.x3p"),
]


@pytest.mark.parametrize("call,error,text", ERRORS, ids=[e[2] for e in ERRORS])
def test_bad_input_raises_the_programs_message(call, error, text):
    with pytest.raises(error, match=text.replace("(", r"\(")):
        call()


def test_malformed_file_raises_value_error_and_fill_mends_gaps(tmp_path):
    bad = tmp_path / "bad.pgm"
    bad.write_bytes(b"P5 4 4\n")
    with pytest.raises(ValueError, match="malformed PGM header"):
        varlox.read(str(bad))
    filled = varlox.measure(NAN, fill="mean")
    assert filled.summary["filled"] == 1


# --- threads, Ctrl-C and memory --------------------------------------------------------

def test_the_transform_lets_other_python_threads_run():
    z = surface(1024, 1024)
    done = threading.Event()

    def transform():
        varlox.spectrum(z)
        done.set()

    worker = threading.Thread(target=transform)
    start = last = time.perf_counter()
    longest = 0
    worker.start()
    while not done.is_set():
        now = time.perf_counter()
        longest = max(longest, now - last)
        last = now
    worker.join()
    alone = time.perf_counter() - start
    # Held, the GIL would stop this loop for the whole transform.
    assert longest < alone / 3, (longest, alone)

    # Two transforms at once, each on its own thread, against one: about the same time on
    # a machine with two processors (best of three, a loose bound for a busy machine).
    def both():
        threads = [threading.Thread(target=varlox.spectrum, args=(z,)) for _ in range(2)]
        t = time.perf_counter()
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        return time.perf_counter() - t

    def one():
        t = time.perf_counter()
        varlox.spectrum(z)
        return time.perf_counter() - t

    if (os.cpu_count() or 1) >= 2:
        ratio = min(both() / min(one(), alone) for _ in range(3))
        assert ratio < 1.6, ratio


CHILD = r"""
import os, signal, sys, threading, time
import numpy as np
import varlox
# A shell or test runner may have left SIGINT ignored; Python then installs no handler.
signal.signal(signal.SIGINT, signal.default_int_handler)
z = np.random.default_rng(2).standard_normal((2048, 2048))
call = {"spectrum": lambda: varlox.spectrum(z), "measure": lambda: varlox.measure(z, level="plane")}[sys.argv[1]]
sent = []
def interrupt():
    sent.append(time.perf_counter())
    os.kill(os.getpid(), signal.SIGINT)
threading.Timer(0.5, interrupt).start()
try:
    call()
    print("finished")
except KeyboardInterrupt:
    print("interrupted %.3f" % (time.perf_counter() - sent[0]))
"""


@pytest.mark.parametrize("call", ["spectrum", "measure"])
def test_ctrl_c_stops_a_long_transform_within_a_second(call):
    run = subprocess.run([sys.executable, "-c", CHILD, call], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    word, *after = run.stdout.split()
    assert word == "interrupted", run.stdout
    assert float(after[0]) < 1.0, after


MEMORY = r"""
import resource, numpy as np, varlox
z = np.ones((6000, 6000))
used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + (200 << 20), resource.RLIM_INFINITY))
try:
    varlox.spectrum(z)
    print("no error")
except MemoryError as e:
    print("MemoryError", e)
"""


@pytest.mark.skipif(not sys.platform.startswith("linux") or os.environ.get("VARLOX_SANITIZED"),
                    reason="an address-space limit on Linux, which the sanitizers' own reservations exceed")
def test_memory_running_out_raises_memory_error():
    run = subprocess.run([sys.executable, "-c", MEMORY], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("MemoryError"), run.stdout + run.stderr
