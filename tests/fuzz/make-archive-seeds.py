#!/usr/bin/env python3
"""Writes the unpack fuzzer's seeds into the folder argv[1]: small zip, tar and tar.gz archives
with the entries the helper's tests use, sound and hostile."""
import io, os, sys, tarfile, warnings, zipfile

warnings.simplefilter("ignore")  # duplicate names are one of the cases

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def tar(name, entries, gz=False):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz" if gz else "w", format=tarfile.PAX_FORMAT) as t:
        for path, kind, data, link, mode in entries:
            info = tarfile.TarInfo(path)
            info.mode = mode
            info.mtime = 1700000000
            info.type = {"f": tarfile.REGTYPE, "d": tarfile.DIRTYPE, "l": tarfile.SYMTYPE,
                         "h": tarfile.LNKTYPE, "c": tarfile.CHRTYPE, "p": tarfile.FIFOTYPE}[kind]
            info.linkname = link
            info.size = len(data) if kind == "f" else 0
            t.addfile(info, io.BytesIO(data) if kind == "f" else None)
    with open(os.path.join(out, name), "wb") as f:
        f.write(buf.getvalue())


def zipped(name, entries):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for path, kind, data, link, mode in entries:
            info = zipfile.ZipInfo(path, (2023, 11, 14, 22, 13, 20))
            info.create_system = 3
            kind_bits = {"f": 0o100000, "d": 0o040000, "l": 0o120000}[kind]
            info.external_attr = (kind_bits | mode) << 16
            z.writestr(info, link.encode() if kind == "l" else data)
    with open(os.path.join(out, name), "wb") as f:
        f.write(buf.getvalue())


F = lambda p, d=b"x", m=0o644: (p, "f", d, "", m)
D = lambda p: (p, "d", b"", "", 0o755)
L = lambda p, t: (p, "l", b"", t, 0o777)
H = lambda p, t: (p, "h", b"", t, 0o644)
good = [F("ffmpeg", b"#!/bin/sh\necho ffmpeg\n", 0o755), D("vlc/"), F("vlc/libvlc.so.5.6.1", bytes(range(256)) * 8),
        L("vlc/libvlc.so.5", "libvlc.so.5.6.1"), F("vlc/plugins/codec/libx.so", b"plugin"),
        L("vlc/plugins/codec/up", "../../libvlc.so.5"), F("./vlc/plugins/readme", b"readme", 0o444)]
hostile = {
    "dotdot": [F("vlc/good"), F("../evil")],
    "deep-dotdot": [F("vlc/../../evil")],
    "absolute": [F("/tmp/abs-evil")],
    "backslash": [F("vlc\\..\\..\\evil")],
    "link-out": [L("vlc/out", "../../secret")],
    "link-abs": [L("vlc/abs", "/etc/passwd")],
    "link-up": [L("vlc/up", "sub/../../..")],
    "through-link": [L("vlc/dir", "."), F("vlc/dir/x", b"through a link")],
    "twice": [F("vlc/good"), F("vlc/good", b"again")],
    "reserved": [F(".updater-staging-1-x")],
}
tar_only = {
    "hard-out": [F("vlc/good"), H("vlc/hard", "../secret")],
    "hard-missing": [H("vlc/hard", "vlc/missing")],
    "hard-ok": [F("vlc/a", b"same"), H("vlc/b", "vlc/a")],
    "device": [("vlc/null", "c", b"", "", 0o644)],
    "fifo": [("vlc/fifo", "p", b"", "", 0o644)],
    "suid": [F("vlc/suid", b"x", 0o4755)],
}
tar("good.tar", good)
tar("good.tar.gz", good, gz=True)
zipped("good.zip", good)
for name, entries in hostile.items():
    tar(name + ".tar", entries)
    zipped(name + ".zip", entries)
for name, entries in tar_only.items():
    tar(name + ".tar", entries)
