#!/usr/bin/python3
"""The OME-Zarr store of zarr_bench.cpp: a 100000 x 100000, 3-channel, 16-bit image (Zarr v2, chunks
1 x 512 x 512, blosc-zstd with byte shuffle), written by zarr-python, and the same picture's level 4
(6250 x 6250) as a pyramidal TIFF (libvips, tiles of 512, zstd) for the comparison on disk.

    make_zarr_bench_store.py DIR

Writes DIR/bench.zarr and DIR/picture.tif, then DIR/complete; a run with DIR/complete present does nothing.
The full store would hold 60 GB: the levels of at most 8192 a side are written whole, and of the finer
ones only the chunks around the picture's middle, where the benchmark's 1:1 frame lies (the others are
missing, which a reader takes as the fill value). The samples are a function of the level-0 position,
broad sines for the fitted frame and fine ones for the 1:1 frame, under light noise, so that the chunks
compress about as a microscope's do rather than to nothing.
"""
import os
import shutil
import subprocess
import sys

import numcodecs
import numpy
import zarr

SIDE, CHUNK, CHANNELS = 100000, 512, 3
WHOLE_UP_TO = 8192
# Around the middle at the sparse levels: the 1:1 frame (1200 x 800 at level 0) and a chunk beyond.
HALF_WIDTH, HALF_HEIGHT = 600 + CHUNK, 400 + CHUNK
VERSION = "1"


def level_side(level):
    return (SIDE + (1 << level) - 1) >> level


def samples(level, y0, y1, x0, x1, rng):
    scale = float(1 << level)
    y = (numpy.arange(y0, y1, dtype=numpy.float32)[:, None] + 0.5) * scale
    x = (numpy.arange(x0, x1, dtype=numpy.float32)[None, :] + 0.5) * scale
    out = numpy.empty((CHANNELS, y1 - y0, x1 - x0), dtype=numpy.uint16)
    for c in range(CHANNELS):
        broad = numpy.sin(x / (9000.0 + 2500 * c)) * numpy.cos(y / (7000.0 + 1500 * c))
        fine = numpy.sin(x / (23.0 + 7 * c)) * numpy.sin(y / (31.0 + 5 * c))
        value = 30000 + 18000 * broad + 6000 * fine
        out[c] = value.astype(numpy.uint16) + rng.integers(0, 64, size=value.shape, dtype=numpy.uint16)
    return out


def write_level(group, level, rng):
    side = level_side(level)
    array = group.create_dataset(str(level), shape=(CHANNELS, side, side), chunks=(1, CHUNK, CHUNK),
                                 dtype="<u2", fill_value=0,
                                 compressor=numcodecs.Blosc(cname="zstd", clevel=3, shuffle=numcodecs.Blosc.SHUFFLE))
    if side <= WHOLE_UP_TO:
        y0, y1, x0, x1 = 0, side, 0, side
    else:
        middle = side // 2
        # Whole chunks, so that every chunk written is complete.
        y0 = (max(0, middle - HALF_HEIGHT) // CHUNK) * CHUNK
        y1 = min(side, -(-(middle + HALF_HEIGHT) // CHUNK) * CHUNK)
        x0 = (max(0, middle - HALF_WIDTH) // CHUNK) * CHUNK
        x1 = min(side, -(-(middle + HALF_WIDTH) // CHUNK) * CHUNK)
    for band in range(y0, y1, CHUNK):  # a row of chunks at a time, to bound the memory
        end = min(y1, band + CHUNK)
        array[:, band:end, x0:x1] = samples(level, band, end, x0, x1, rng)
    return array


def multiscales(levels):
    datasets = [{"path": str(level), "coordinateTransformations": [
        {"type": "scale", "scale": [1.0, 0.25 * (1 << level), 0.25 * (1 << level)]}]} for level in range(levels)]
    axes = [{"name": "c", "type": "channel"}, {"name": "y", "type": "space", "unit": "micrometer"},
            {"name": "x", "type": "space", "unit": "micrometer"}]
    return [{"version": "0.4", "name": "bench", "axes": axes, "datasets": datasets}]


def omero():
    colours = ["FF0000", "00FF00", "0000FF"]
    return {"channels": [{"label": "ch%d" % c, "color": colours[c], "active": True,
                          "window": {"start": 8000, "end": 56000, "min": 0, "max": 65535}}
                         for c in range(CHANNELS)]}


def write_tiff(level4, directory):
    raw = os.path.join(directory, "level4.raw")
    level4.transpose(1, 2, 0).tofile(raw)  # interleaved, as libvips loads raw samples
    side = level4.shape[1]
    vips = os.path.join(directory, "level4.v")
    subprocess.run(["vips", "rawload", raw, vips, str(side), str(side), str(CHANNELS), "--format", "ushort",
                    "--interpretation", "rgb16"], check=True)
    os.remove(raw)
    subprocess.run(["vips", "tiffsave", vips, os.path.join(directory, "picture.tif"), "--tile", "--tile-width",
                    str(CHUNK), "--tile-height", str(CHUNK), "--pyramid", "--compression", "zstd"], check=True)
    os.remove(vips)


def main():
    out = sys.argv[1]
    marker = os.path.join(out, "complete")
    if os.path.exists(marker) and open(marker).read().strip() == VERSION:
        return
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    rng = numpy.random.default_rng(7)
    group = zarr.open_group(os.path.join(out, "bench.zarr"), mode="w")
    levels = max(level for level in range(20) if level_side(level) >= 256) + 1
    group.attrs["multiscales"] = multiscales(levels)
    group.attrs["omero"] = omero()
    for level in range(levels):
        array = write_level(group, level, rng)
        if level_side(level) == level_side(4):
            write_tiff(array[...], out)
    with open(marker, "w") as f:
        f.write(VERSION + "\n")


if __name__ == "__main__":
    main()
