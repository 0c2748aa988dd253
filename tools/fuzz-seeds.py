#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/seeds/<target>/).

The seeds are small archives of every kind the component and the engine read:
what our own tarvik-cli writes (stored, deflated, traditional encryption,
comments, split sets, a self-extracting program), and, for
kinds our tools do not write, archives from general tools used as peers:
Info-ZIP zip (extended timestamps, Unix extras, symbolic links, forced Zip64,
data descriptors from a stream), 7-Zip (Deflate64, AES), Python's zipfile
(bzip2, LZMA, Zip64 local records) and a few entries written here directly
(Zstandard and xz, names in code page 850 with a Unicode path record).

Usage: tools/fuzz-seeds.py --cli BUILD/cli/tarvik-cli [--catalogue
BUILD/zip/messages/ZAResStr.cpp] [--out tests/fuzz/seeds]

Run it again after a format change and commit the result; the seeds are kept
small (a few KB each) so that the fuzzers stay fast. Encrypted archives (random
salts and headers) and Info-ZIP's (access times) differ on every run.
"""

import argparse
import io
import lzma
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

PASSWORDS = ("pw", "password")  # fuzz_bridge and fuzz_sfx use "pw", fuzz_extract "password"
FIXED_TIME = 1700000000  # 2023-11-14, so that rewriting the seeds changes little
RNG = random.Random(16)  # the same "random" file contents every time


def run(args, cwd, check=True):
    res = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if check and res.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(args), res.stdout.decode(errors="replace"),
                                        res.stderr.decode(errors="replace")))
    return res.returncode == 0


def make_inputs(folder):
    """A few small files: text, a repeated pattern, random bytes, a subfolder."""
    os.makedirs(os.path.join(folder, "sub", "leer"), exist_ok=True)
    files = {
        "liesmich.txt": b"Tarvik fuzz seed\n" * 8,
        "muster.bin": bytes(range(256)) * 4,
        "sub/zufall.bin": RNG.randbytes(300),
        "sub/kurz.txt": b"x",
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    for root, dirs, names in os.walk(folder):
        for n in dirs + names:
            os.utime(os.path.join(root, n), (FIXED_TIME, FIXED_TIME))
    return ["liesmich.txt", "muster.bin", "sub"]


def raw_zip(entries, comment=b""):
    """An archive of (name bytes, method, flags, data bytes, uncompressed, extra) entries,
    for methods no tool at hand writes."""
    out = io.BytesIO()
    central = []
    for name, method, flags, data, plain, extra in entries:
        crc = zlib.crc32(plain) & 0xFFFFFFFF
        offset = out.tell()
        head = struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, method, 0x6000, 0x5781,
                           crc, len(data), len(plain), len(name), len(extra))
        out.write(head + name + extra + data)
        central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 63, flags, method,
                                   0x6000, 0x5781, crc, len(data), len(plain), len(name),
                                   len(extra), 0, 0, 0, 0o100644 << 16, offset) + name + extra)
    start = out.tell()
    for c in central:
        out.write(c)
    size = out.tell() - start
    out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(central), len(central), size,
                          start, len(comment)) + comment)
    return out.getvalue()


class Unseekable(io.RawIOBase):
    """A write-only stream without seek, so zipfile writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def fixed(name, method):
    """An entry of zipfile with a fixed time, so that the seeds do not change on every run."""
    info = zipfile.ZipInfo(name, (2023, 11, 14, 22, 13, 20))
    info.compress_type = method
    return info


def peer_archives(work, src, seeds):
    text = b"Tarvik fuzz seed\n" * 8
    # Python's zipfile: bzip2, LZMA, Zip64 local records, data descriptors.
    for label, method in (("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA)):
        path = os.path.join(work, "py-%s.zip" % label)
        with zipfile.ZipFile(path, "w", method) as z:
            z.writestr(fixed("a.txt", method), text)
            z.writestr(fixed("b/c.bin", method), bytes(range(256)))
        seeds["py-%s.zip" % label] = path
    path = os.path.join(work, "py-zip64.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open(fixed("gross.txt", zipfile.ZIP_DEFLATED), "w", force_zip64=True) as f:
            f.write(text)
    seeds["py-zip64.zip"] = path
    stream = Unseekable()
    with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(fixed("strom.txt", zipfile.ZIP_DEFLATED), text)
        z.writestr(fixed("leer.txt", zipfile.ZIP_DEFLATED), b"")
    path = os.path.join(work, "py-descriptor.zip")
    with open(path, "wb") as f:
        f.write(bytes(stream.data))
    seeds["py-descriptor.zip"] = path

    # Written here: Zstandard (93), xz (95), a stored name in code page 850 with a
    # Unicode path record, an empty archive with a comment.
    entries = [(b"xz.txt", 95, 0, lzma.compress(text, format=lzma.FORMAT_XZ), text, b"")]
    if shutil.which("zstd"):
        zst = subprocess.run(["zstd", "-q", "-c"], input=text, stdout=subprocess.PIPE,
                             check=True).stdout
        entries.append((b"zstd.txt", 93, 0, zst, text, b""))
    name850 = "Äpfel.txt".encode("cp850")
    utf8 = "Äpfel.txt".encode("utf-8")
    upath = struct.pack("<BI", 1, zlib.crc32(name850) & 0xFFFFFFFF) + utf8
    extra = struct.pack("<HH", 0x7075, len(upath)) + upath
    extra += struct.pack("<HHBi", 0x5455, 5, 1, FIXED_TIME)
    entries.append((name850, 0, 0, b"apfel", b"apfel", extra))
    entries.append(("Grüße/".encode("utf-8"), 0, 0x800, b"", b"", b""))
    path = os.path.join(work, "raw-methods.zip")
    with open(path, "wb") as f:
        f.write(raw_zip(entries, b"Kommentar"))
    seeds["raw-methods.zip"] = path
    path = os.path.join(work, "empty.zip")
    with open(path, "wb") as f:
        f.write(raw_zip([], b"nur ein Kommentar"))
    seeds["empty.zip"] = path

    # Info-ZIP: extended timestamps and Unix extras, a symbolic link, forced Zip64,
    # and a stream with data descriptors.
    if shutil.which("zip"):
        os.symlink("liesmich.txt", os.path.join(src, "verweis"))
        make_inputs(src)  # the access times again: the timestamp records carry them
        path = os.path.join(work, "infozip.zip")
        run(["zip", "-q", "-X-", "-y", "-r", path, "liesmich.txt", "verweis", "sub"], src)
        seeds["infozip.zip"] = path
        os.unlink(os.path.join(src, "verweis"))
        path = os.path.join(work, "infozip-zip64.zip")
        with open(os.path.join(src, "liesmich.txt"), "rb") as f:
            piped = subprocess.run(["zip", "-q", "-fz", "-", "-"], input=f.read(),
                                   stdout=subprocess.PIPE, check=True).stdout
        with open(path, "wb") as f:
            f.write(piped)
        seeds["infozip-stream-zip64.zip"] = path
    # 7-Zip: Deflate64 and AES (both passwords, 128 and 256 bits).
    if shutil.which("7zz"):
        path = os.path.join(work, "7z-deflate64.zip")
        run(["7zz", "a", "-bd", "-tzip", "-mm=Deflate64", path, "liesmich.txt", "muster.bin"],
            src)
        seeds["7z-deflate64.zip"] = path
        for pw in PASSWORDS:
            for bits in ("128", "256"):
                path = os.path.join(work, "7z-aes%s-%s.zip" % (bits, pw))
                run(["7zz", "a", "-bd", "-tzip", "-mem=AES" + bits, "-p" + pw, path,
                     "liesmich.txt"], src)
                seeds["7z-aes%s-%s.zip" % (bits, pw)] = path


def own_archives(cli, work, src, inputs, seeds):
    def add(name, *options, files=None):
        path = os.path.join(work, name)
        run([cli, "add", *options, path, *(files or inputs)], src)
        return path

    seeds["stored.zip"] = add("stored.zip", "-r", "-p", "-E", "-0")
    seeds["deflated.zip"] = add("deflated.zip", "-r", "-p", "-9")
    seeds["fast.zip"] = add("fast.zip", "-1", files=["liesmich.txt"])
    for pw in PASSWORDS:
        seeds["zipcrypto-%s.zip" % pw] = add("zipcrypto-%s.zip" % pw, "-P", pw, "-r", "-p")
    path = add("comment.zip", files=["liesmich.txt"])
    run([cli, "comment", path, "Archivkommentar äöü"], src)
    seeds["comment.zip"] = path
    # An archive whose entry was deleted: the rewrite copies the other entries.
    path = add("deleted.zip", "-r", "-p")
    run([cli, "delete", "--final", path, "muster.bin"], src)
    seeds["deleted.zip"] = path

    # A split set of small parts (random data, so the parts stay apart).
    setdir = os.path.join(work, "set")
    os.mkdir(setdir)
    with open(os.path.join(src, "gross.bin"), "wb") as f:
        f.write(RNG.randbytes(5000))
    os.utime(os.path.join(src, "gross.bin"), (FIXED_TIME, FIXED_TIME))
    run([cli, "add", "-s", "2k", os.path.join(setdir, "teile.zip"), "gross.bin",
         "liesmich.txt"], src)
    parts = sorted(os.listdir(setdir))
    for p in parts:
        seeds["set-" + p] = os.path.join(setdir, p)

    # A self-extracting program with settings (a split one would need parts larger than
    # the stub, too large for a seed).
    sfx = add("programm.zip", files=["liesmich.txt"])
    sfx_ok = run([cli, "sfx", "--caption", "Titel", "--message", "Hallo", "--dir", "ziel",
                  "--command", "><liesmich.txt", sfx], src, check=False)
    exe = os.path.join(work, "programm.exe")
    if sfx_ok and os.path.exists(exe):
        seeds["programm.exe"] = exe
    else:
        print("note: no self-extractor stub, program seeds skipped", file=sys.stderr)
    return parts, setdir


def catalogue_blocks(path):
    """The byte arrays of the generated catalogue source (built-in block, language resource)."""
    if not path or not os.path.exists(path):
        return {}
    text = open(path, encoding="utf-8").read()
    blocks = {}
    for m in re.finditer(r"std::uint8_t (k\w+)\[\] = \{([^}]*)\}", text):
        blocks[m.group(1)] = bytes(int(v) for v in m.group(2).replace("\n", " ").split(",")
                                   if v.strip())
    return blocks


def repair_cuts(data):
    """The damaged forms of an archive that the repair scanner is seeded with."""
    yield "whole", data
    yield "cut70", data[: len(data) * 7 // 10]
    central = data.find(b"PK\x01\x02")
    if central > 0:
        yield "nodir", data[:central]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--catalogue")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "tests",
                                                    "fuzz", "seeds"))
    args = ap.parse_args()
    cli = os.path.abspath(args.cli)
    out = os.path.abspath(args.out)
    work = tempfile.mkdtemp(prefix="fuzz-seeds-")
    env_home = os.path.join(work, "home")
    os.environ["XDG_DATA_HOME"] = env_home  # replaced files go to a trash of ours
    try:
        src = os.path.join(work, "src")
        os.mkdir(src)
        inputs = make_inputs(src)
        seeds = {}
        parts, setdir = own_archives(cli, work, src, inputs, seeds)
        peer_archives(work, src, seeds)

        def target(name):
            folder = os.path.join(out, name)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            return folder

        def put(folder, name, data):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)

        archives = {n: open(p, "rb").read() for n, p in seeds.items()}
        singles = {n: d for n, d in archives.items() if not n.startswith("set-")}
        program = archives.get("programm.exe")

        for name in ("fuzz_open", "fuzz_eoc", "fuzz_extract"):
            folder = target(name)
            for n, d in (archives if name == "fuzz_eoc" else singles).items():
                put(folder, n, d)
        # fuzz_repair: damaged archives as a download cut off or a half-written file leaves
        # them: whole, cut at 70 %, and cut before the central directory.
        folder = target("fuzz_repair")
        for n, d in singles.items():
            for what, data in repair_cuts(d):
                put(folder, "%s-%s" % (what, n), data)
        # fuzz_bridge: the first byte picks test (0), extract with folders (1) or without (2).
        folder = target("fuzz_bridge")
        for i, (n, d) in enumerate(sorted(singles.items())):
            put(folder, n, bytes([i % 3]) + d)

        # Archives of every kind behind a first byte that picks an operation.
        kinds = ("stored.zip", "deflated.zip", "zipcrypto-pw.zip", "comment.zip", "infozip.zip",
                 "py-descriptor.zip", "py-zip64.zip", "infozip-stream-zip64.zip",
                 "raw-methods.zip", "7z-aes256-pw.zip", "empty.zip", "programm.exe")
        # fuzz_rewrite: 0 and 2 delete, 1 sets a comment.
        folder = target("fuzz_rewrite")
        for i, n in enumerate(k for k in kinds if k in archives):
            put(folder, n, bytes([i % 3]) + archives[n])
        # fuzz_engine_add: update (bit 0), encryption (bit 1) and the level (bits 4-6).
        folder = target("fuzz_engine_add")
        for i, n in enumerate(k for k in kinds if k in archives):
            put(folder, n, bytes([(i % 4) | (i % 8) << 4]) + archives[n])

        # fuzz_sets: bits 0-2 of the first byte the parts before the last, bits 3-4 the
        # operation (0 join, 1 span, 2 program to archive, 3 join and span), the sizes, the
        # parts.
        folder = target("fuzz_sets")
        if 1 < len(parts) <= 8:
            datas = [open(os.path.join(setdir, p), "rb").read() for p in parts]
            for op in (0, 3):
                blob = bytes([(len(parts) - 1) | op << 3])
                for d in datas[:-1]:
                    blob += struct.pack("<H", min(len(d), 0xFFFF))
                put(folder, "split-set-%d.bin" % op, blob + b"".join(datas))
        for n in ("stored.zip", "deflated.zip", "infozip.zip", "py-zip64.zip"):
            if n in archives:
                put(folder, n, bytes([1 << 3]) + archives[n])
        if program:
            put(folder, "programm.bin", bytes([2 << 3]) + program)

        # fuzz_sfx: a program as it is; archives behind a one-byte prefix (an odd first
        # byte opens the input as an archive); raw deflate streams behind a zero byte;
        # split self-extracting sets as (3, part count, part sizes, parts, program).
        folder = target("fuzz_sfx")
        if program:
            put(folder, "programm.exe", program)
        for n in ("stored.zip", "deflated.zip", "zipcrypto-pw.zip", "comment.zip",
                  "7z-aes256-pw.zip", "infozip.zip", "py-descriptor.zip", "empty.zip"):
            if n in archives:
                put(folder, n, b"\x01" + archives[n])
        text = b"Tarvik fuzz seed\n" * 8 + bytes(range(256))
        for level in (0, 1, 9):
            c = zlib.compressobj(level, zlib.DEFLATED, -15)
            put(folder, "raw-deflate-%d.bin" % level, b"\x00" + c.compress(text) + c.flush())
        # A split set: its parts before the last, then the last part (no program image,
        # so the last part is opened as an archive).
        if 1 < len(parts) <= 8:
            datas = [open(os.path.join(setdir, p), "rb").read() for p in parts]
            blob = bytes([3, len(parts) - 1])
            for d in datas[:-1]:
                blob += struct.pack("<H", min(len(d), 0xFFFF))
            put(folder, "split-set.bin", blob + b"".join(datas))

        # fuzz_stub: 0 + program (settings, icon), 1 + icon length + icon + program (new icon).
        folder = target("fuzz_stub")
        ico = open(os.path.join(os.path.dirname(__file__), "..", "sfx", "win", "sfx.ico"),
                   "rb").read()
        if program:
            put(folder, "settings.bin", b"\x00" + program)
            put(folder, "icon.bin", b"\x01" + struct.pack("<H", len(ico)) + ico + program)

        # fuzz_records: flags, name length, name, extra field (see the target).
        folder = target("fuzz_records")
        for n in ("infozip.zip", "raw-methods.zip", "py-zip64.zip", "infozip-stream-zip64.zip",
                  "7z-aes256-pw.zip", "stored.zip"):
            if n not in seeds:
                continue
            with zipfile.ZipFile(seeds[n]) as z:
                for i, info in enumerate(z.infolist()[:3]):
                    raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437",
                                               errors="replace")
                    put(folder, "%s-%d.bin" % (n, i),
                        struct.pack("<HH", info.flag_bits, len(raw)) + raw + info.extra)

        # fuzz_match: specification lines and a name, split at the first NUL.
        folder = target("fuzz_match")
        for i, line in enumerate((b"*.txt\x00liesmich.txt", b"sub\\*.bin\x00sub/zufall.bin",
                                  b"?[a-c]*.z??\x00b1.zip", b"*.* >ziel <*.tmp\x00a.b",
                                  b"\"Name mit Leer.txt\" /E\x00Name mit Leer.txt",
                                  "Grüße/*\x00grüße/x".encode("utf-8"))):
            put(folder, "spec-%d.txt" % i, line)

        folder = target("fuzz_catalogue")
        for n, d in catalogue_blocks(args.catalogue).items():
            put(folder, n + ".bin", d)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    total = 0
    for root, _, names in os.walk(out):
        total += sum(os.path.getsize(os.path.join(root, n)) for n in names)
    print("seeds written to %s: %d KB" % (out, total // 1024))


if __name__ == "__main__":
    main()
