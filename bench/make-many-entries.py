#!/usr/bin/env python3
"""Writes a zip archive with many small entries for the list benchmark:
names in a few folders with mixed case, sizes from 0 to some kilobytes,
dates spread over years. Usage: make-many-entries.py ARCHIVE [COUNT]"""
import random
import sys
import zipfile

archive = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
rng = random.Random(4711)
folders = ["", "Dokumente/", "Bilder/Urlaub/", "quellen/src/", "Musik/"]
words = ["Bericht", "bild", "Notiz", "daten", "Brief", "liste", "Zeile", "archiv"]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
    for i in range(count):
        name = "%s%s_%06d.%s" % (rng.choice(folders), rng.choice(words), i,
                                 rng.choice(["txt", "jpg", "dat", "cpp", "mp3"]))
        info = zipfile.ZipInfo(name, date_time=(rng.randint(1990, 2025), rng.randint(1, 12),
                                                rng.randint(1, 28), rng.randint(0, 23),
                                                rng.randint(0, 59), 0))
        size = rng.choice([0, rng.randint(1, 999), rng.randint(1000, 5000)])
        info.compress_type = zipfile.ZIP_STORED if size < 64 else zipfile.ZIP_DEFLATED
        z.writestr(info, bytes(rng.getrandbits(2) + 65 for _ in range(size)))
