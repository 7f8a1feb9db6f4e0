#!/usr/bin/python3
"""Writes the OME-Zarr test stores into DIR: Zarr v2 ones through zarr-python 2 and numcodecs, Zarr v3
ones (OME-NGFF 0.5, one sharded) from the published layout with numpy, numcodecs and zstandard. Beside
each store, expected/<store>-<level>.bin holds the samples a read must give: the level's plane as rows
of pixels of interleaved channels, in the type Zelvan reads (u1 as uint8, i1 and i2 as int16, u2 as
uint16, anything else as float32), little-endian. Exits with 3 when the modules are missing.
    make_stores.py DIR"""
import json
import os
import shutil
import sys

try:
    import numcodecs
    import numpy as np
    import zarr
    import zstandard
except ImportError as missing:
    print("python3 lacks %s" % missing.name)
    sys.exit(3)

out = sys.argv[1]
os.makedirs(os.path.join(out, "expected"), exist_ok=True)


def pattern(shape, dtype, seed):
    """Values that tell every sample apart, within the type's range."""
    index = np.indices(shape).reshape(len(shape), -1)
    value = np.zeros(index.shape[1], dtype=np.int64)
    for axis in range(len(shape)):
        value = value * 131 + index[axis] * (7 + axis + seed)
    kind = np.dtype(dtype)
    if kind.kind == "f":
        return ((value % 100003) * 0.37 - 900.5).astype(dtype).reshape(shape)
    info = np.iinfo(kind)
    span = min(int(info.max) - int(info.min) + 1, 1 << 31)
    return (value % span + max(int(info.min), -(1 << 30))).astype(dtype).reshape(shape)


def expect(name, level, array, axes, t=0, z=0):
    """The plane (t, z) of `array` as Zelvan reads it: y, x, then channels."""
    plane = array
    for axis in sorted((a for a in "tz" if a in axes), key=axes.index, reverse=True):
        plane = np.take(plane, t if axis == "t" else z, axis=axes.index(axis))
    rest = [a for a in axes if a not in "tz"]
    if "c" not in rest:
        plane, rest = plane[np.newaxis], ["c"] + rest
    plane = np.transpose(plane, [rest.index("y"), rest.index("x"), rest.index("c")])
    kind = np.dtype(array.dtype)
    target = {("u", 1): "<u1", ("i", 1): "<i2", ("i", 2): "<i2", ("u", 2): "<u2"}.get((kind.kind, kind.itemsize), "<f4")
    file = os.path.join(out, "expected", "%s-%d.bin" % (name, level))
    os.makedirs(os.path.dirname(file), exist_ok=True)
    np.ascontiguousarray(plane).astype(target).tofile(file)


def omero(channels):
    colours = ["FF0000", "00FF00", "0000FF"]
    return {"channels": [{"label": "ch%d" % c, "color": colours[c % 3], "active": c != 2,
                          "window": {"start": 10 + c, "end": 200 + 100 * c, "min": 0, "max": 65535}}
                         for c in range(channels)]}


def multiscales(axes, levels, version):
    units = {"t": ("time", "second"), "c": ("channel", None), "z": ("space", "micrometer"),
             "y": ("space", "micrometer"), "x": ("space", "nanometer")}
    described = []
    for a in axes:
        entry = {"name": a, "type": units[a][0]}
        if units[a][1]:
            entry["unit"] = units[a][1]
        described.append(entry)
    datasets = []
    for level in range(levels):
        scale = [1.0] * len(axes)
        scale[axes.index("y")] = 0.5 * 2 ** level
        scale[axes.index("x")] = 250.0 * 2 ** level
        datasets.append({"path": str(level), "coordinateTransformations": [{"type": "scale", "scale": scale}]})
    entry = {"axes": described, "datasets": datasets}
    if version:
        entry["version"] = version
    return [entry]


def v2_store(name, axes, shape, chunks, dtype, compressor, levels=2, fill=0, order="C", separator=".",
             consolidate=False, plane=(0, 0)):
    path = os.path.join(out, name)
    shutil.rmtree(path, ignore_errors=True)
    group = zarr.open_group(path, mode="w")
    group.attrs["multiscales"] = multiscales(axes, levels, "0.4")
    if "c" in axes:
        group.attrs["omero"] = omero(shape[axes.index("c")])
    arrays = []
    for level in range(levels):
        level_shape = [s if a in "tcz" else (s + (1 << level) - 1) >> level for a, s in zip(axes, shape)]
        data = pattern(level_shape, dtype, level)
        array = group.create_dataset(str(level), shape=level_shape, chunks=chunks, dtype=dtype,
                                     compressor=compressor, fill_value=fill, order=order,
                                     dimension_separator=separator)
        array[...] = data
        arrays.append(data)
    if consolidate:
        zarr.consolidate_metadata(path)
    for level, data in enumerate(arrays):
        expect(name, level, data, axes, *plane)
    return path, arrays


# Zarr v2, written by zarr-python: the compressors, types, byte orders and orders.
Blosc = numcodecs.Blosc
v2_store("u1_lz4_bit.zarr", "cyx", [2, 300, 500], [1, 128, 160], "|u1",
         Blosc(cname="lz4", clevel=5, shuffle=Blosc.BITSHUFFLE))
v2_store("u2_zstd_blosc.zarr", "cyx", [3, 200, 260], [3, 64, 100], ">u2",
         Blosc(cname="zstd", clevel=3, shuffle=Blosc.SHUFFLE), consolidate=True)
v2_store("i2_zstd.zarr", "yx", [200, 300], [128, 128], "<i2", numcodecs.Zstd(level=3), separator="/")
v2_store("f4_gzip.zarr", "cyx", [2, 150, 170], [2, 64, 64], "<f4", numcodecs.GZip(level=5), order="F")
path, arrays = v2_store("f8_none.zarr", "yx", [130, 190], [64, 64], "<f8", None, fill="NaN")
# A missing chunk reads as the fill value.
os.remove(os.path.join(path, "0", "1.1"))
arrays[0][64:128, 64:128] = np.nan
expect("f8_none.zarr", 0, arrays[0], "yx")
# Five axes, a plane picked: t 1, z 2 (and every other plane through openPlane).
path, arrays = v2_store("tczyx.zarr", "tczyx", [2, 3, 4, 96, 80], [1, 1, 1, 64, 64], "<u2", numcodecs.Zlib(level=4),
                        plane=(1, 2))
expect("tczyx.zarr-t0z3", 0, arrays[0], "tczyx", 0, 3)
# bioformats2raw's layout: the image is the group "0" under the root.
shutil.rmtree(os.path.join(out, "b2r.zarr"), ignore_errors=True)
path, arrays = v2_store("b2r.zarr/0", "yx", [80, 90], [32, 32], "<u2", numcodecs.Zstd(), levels=1)
zarr.open_group(os.path.join(out, "b2r.zarr"), mode="a").attrs["bioformats2raw.layout"] = 3
expect("b2r.zarr", 0, arrays[0], "yx")
# A damaged chunk: its reads fail, the others' do not.
path, _ = v2_store("corrupt.zarr", "yx", [100, 100], [50, 50], "<u2", numcodecs.Zstd(), levels=1)
with open(os.path.join(path, "0", "0.0"), "r+b") as chunk:
    chunk.seek(10)
    chunk.write(b"\xff" * 8)


def refused(name, array_changes, group_shape=None):
    """A one-level store whose array metadata is changed after writing (no chunk is written)."""
    path = os.path.join(out, name)
    shutil.rmtree(path, ignore_errors=True)
    group = zarr.open_group(path, mode="w")
    group.attrs["multiscales"] = multiscales("cyx", 1, "0.4")
    group.create_dataset("0", shape=[1, 64, 64], chunks=[1, 64, 64], dtype="<u2")
    with open(os.path.join(path, "0", ".zarray")) as f:
        meta = json.load(f)
    meta.update(array_changes)
    with open(os.path.join(path, "0", ".zarray"), "w") as f:
        json.dump(meta, f)


refused("complex.zarr", {"dtype": "<c8"})
refused("lzma.zarr", {"compressor": {"id": "lzma", "preset": 1}})
refused("huge.zarr", {"shape": [1, 1 << 21, 1 << 21], "chunks": [1, 256, 256]})
refused("huge_chunk.zarr", {"shape": [1, 10000, 10000], "chunks": [1, 8192, 8192]})


# Zarr v3 (OME-NGFF 0.5), written from the layout itself.
def crc32c(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x82F63B78 if crc & 1 else crc >> 1
    return (crc ^ 0xFFFFFFFF).to_bytes(4, "little")


def encode(chunk, codecs):
    """A chunk through a v3 codec chain (transpose, bytes, then blosc, gzip, zstd, crc32c)."""
    data = chunk
    for codec in codecs:
        kind, config = codec["name"], codec.get("configuration", {})
        if kind == "transpose":
            data = np.transpose(data, config["order"])
        elif kind == "bytes":
            order = ">" if config.get("endian") == "big" else "<"
            data = np.ascontiguousarray(data).astype(data.dtype.newbyteorder(order)).tobytes()
        elif kind == "blosc":
            data = numcodecs.Blosc(cname=config["cname"], clevel=5, shuffle=1).encode(data)
        elif kind == "gzip":
            data = numcodecs.GZip(level=5).encode(data)
        elif kind == "zstd":
            data = zstandard.ZstdCompressor(level=3).compress(data)
        elif kind == "crc32c":
            data = bytes(data) + crc32c(bytes(data))
    return bytes(data)


def chunks_of(shape, chunk):
    counts = [(s + c - 1) // c for s, c in zip(shape, chunk)]
    for index in np.ndindex(*counts):
        region = tuple(slice(i * c, (i + 1) * c) for i, c in zip(index, chunk))
        yield index, region


def padded(data, region, chunk, fill):
    part = np.full(chunk, fill, dtype=data.dtype)
    piece = data[region]
    part[tuple(slice(0, s) for s in piece.shape)] = piece
    return part


def v3_store(name, axes, shape, chunk, dtype, codecs, levels=2, shard=None, empty=(), index_at="end"):
    path = os.path.join(out, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    with open(os.path.join(path, "zarr.json"), "w") as f:
        ome = {"version": "0.5", "multiscales": multiscales(axes, levels, None)}
        if "c" in axes:
            ome["omero"] = omero(shape[axes.index("c")])
        json.dump({"zarr_format": 3, "node_type": "group", "attributes": {"ome": ome}}, f)
    index_codecs = [{"name": "bytes", "configuration": {"endian": "little"}}, {"name": "crc32c"}]
    for level in range(levels):
        level_shape = [s if a in "tcz" else (s + (1 << level) - 1) >> level for a, s in zip(axes, shape)]
        data = pattern(level_shape, dtype, level + 5)
        outer = shard or chunk
        top = codecs
        if shard:
            top = [{"name": "sharding_indexed", "configuration": {
                "chunk_shape": chunk, "codecs": codecs, "index_codecs": index_codecs, "index_location": index_at}}]
        meta = {"zarr_format": 3, "node_type": "array", "shape": level_shape, "data_type": np.dtype(dtype).name,
                "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": outer}},
                "chunk_key_encoding": {"name": "default", "configuration": {"separator": "/"}},
                "fill_value": 7, "codecs": top, "dimension_names": list(axes)}
        os.makedirs(os.path.join(path, str(level)))
        with open(os.path.join(path, str(level), "zarr.json"), "w") as f:
            json.dump(meta, f)
        for index, region in chunks_of(level_shape, outer):
            stored = os.path.join(path, str(level), "c", *[str(i) for i in index])
            os.makedirs(os.path.dirname(stored), exist_ok=True)
            part = padded(data, region, outer, 7)
            if not shard:
                blob = encode(part, codecs)
            else:
                inner, table = b"", []
                for inner_index, inner_region in chunks_of(outer, chunk):
                    if level == 0 and index == (0,) * len(index) and inner_index in empty:
                        table += [2**64 - 1, 2**64 - 1]
                        continue
                    piece = encode(part[inner_region], codecs)
                    table += [len(inner), len(piece)]
                    inner += piece
                index_bytes = len(table) * 8 + 4
                if index_at == "start":
                    table = [v if v == 2**64 - 1 or i % 2 else v + index_bytes for i, v in enumerate(table)]
                raw = np.array(table, dtype="<u8").tobytes()
                index_blob = raw + crc32c(raw)
                blob = index_blob + inner if index_at == "start" else inner + index_blob
            with open(stored, "wb") as f:
                f.write(blob)
        if shard and level == 0:
            for inner_index in empty:
                region = tuple(slice(i * c, (i + 1) * c) for i, c in zip(inner_index, chunk))
                data[region] = 7
        expect(name, level, data, axes)


little = {"name": "bytes", "configuration": {"endian": "little"}}
# A codec nobody here decodes: refused at opening, by name.
v3_store("v3_unknown_codec.zarr", "yx", [64, 64], [64, 64], "uint8", [little], levels=1)
with open(os.path.join(out, "v3_unknown_codec.zarr", "0", "zarr.json")) as f:
    meta = json.load(f)
meta["codecs"].append({"name": "lzma2000"})
with open(os.path.join(out, "v3_unknown_codec.zarr", "0", "zarr.json"), "w") as f:
    json.dump(meta, f)
v3_store("v3_u2_zstd.zarr", "cyx", [2, 210, 330], [1, 100, 128], "uint16", [little, {"name": "zstd"}])
# Channels last: any order of the axes is read.
v3_store("v3_transpose.zarr", "yxc", [120, 90, 2], [64, 50, 2], "float32",
         [{"name": "transpose", "configuration": {"order": [2, 1, 0]}},
          {"name": "bytes", "configuration": {"endian": "big"}}, {"name": "gzip"}, {"name": "crc32c"}])
v3_store("v3_blosc.zarr", "yx", [100, 140], [64, 64], "int16",
         [little, {"name": "blosc", "configuration": {"cname": "lz4"}}])
v3_store("v3_sharded.zarr", "cyx", [2, 300, 400], [1, 64, 64], "uint16", [little, {"name": "zstd"}, {"name": "crc32c"}],
         shard=[2, 256, 256], empty=[(0, 1, 1), (1, 0, 2)])
v3_store("v3_shard_start.zarr", "yx", [200, 200], [50, 50], "uint8", [little], shard=[100, 100],
         index_at="start", levels=1)
# A chunk whose data no longer matches its crc32c: its reads fail.
v3_store("v3_bad_crc.zarr", "yx", [64, 64], [32, 32], "uint8", [little, {"name": "crc32c"}], levels=1)
with open(os.path.join(out, "v3_bad_crc.zarr", "0", "c", "0", "0"), "r+b") as chunk:
    chunk.seek(5)
    chunk.write(b"\x99")
print("written")
