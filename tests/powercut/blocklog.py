#!/usr/bin/python3
"""Power cuts at block level, for one file system image.

record IMAGE FOLDER LOG TEXT
    Serves IMAGE as FOLDER/disk through FUSE, for a loop device, and logs in
    the order they arrive every write to it (offset and bytes) and every
    flush: the loop device turns a flush of its queue into an fsync of
    FOLDER/disk. What is written to FOLDER/notes goes to the file TEXT and
    into the log as a note, in the same order: a program whose standard
    error goes there marks the log where each of its lines was written.

replay BASE LOG FILE OLD NEW START RELOAD
    For every flush from the last one before the note starting with START
    on: the image as it stood at that flush (BASE plus the logged writes)
    plus subsets of the writes after it up to the next flush, since a disk
    may keep any of them; all of them where there are few, else random ones
    chosen the same way every run. Each image is mounted (ext4 recovers its
    journal) and FILE, a path inside it, read: the OLD file, the NEW one (either may be
    followed by blank lines: CR LF pairs, after one space for an odd count),
    or anything else, which fails. So does
    the old file where the crash can come after the first note after START
    that starts with RELOAD. Prints the counts; the exit status is the
    number of failures.
"""
import errno
import os
import random
import stat
import struct
import subprocess
import sys
import tempfile

WRITE, FLUSH, NOTE = b"W", b"F", b"N"
HEADER = struct.Struct("<cQI")
IMAGES_PER_FLUSH = 16
BLOCK = 4096
RANDOM_START = 25  # the same subsets every run
WHOLE = ("old", "old + blank lines", "new", "new + blank lines")


def record(image, folder, log_path, text_path):
    import fusepy

    class Disk(fusepy.Operations):
        def __init__(self):
            self.image = os.open(image, os.O_RDWR)
            self.size = os.fstat(self.image).st_size
            self.log = open(log_path, "wb")
            self.text = open(text_path, "ab")

        def entry(self, kind, offset=0, data=b""):
            self.log.write(HEADER.pack(kind, offset, len(data)) + data)

        def getattr(self, path, fh=None):
            if path == "/":
                return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
            if path == "/disk":
                return {"st_mode": stat.S_IFREG | 0o600, "st_nlink": 1, "st_size": self.size}
            if path == "/notes":
                return {"st_mode": stat.S_IFREG | 0o666, "st_nlink": 1, "st_size": 0}
            raise fusepy.FuseOSError(errno.ENOENT)

        def readdir(self, path, fh):
            return [".", "..", "disk", "notes"]

        def open(self, path, flags):
            return 0

        def truncate(self, path, length, fh=None):
            if path != "/notes":
                raise fusepy.FuseOSError(errno.EPERM)

        def read(self, path, size, offset, fh):
            return os.pread(self.image, size, offset) if path == "/disk" else b""

        def write(self, path, data, offset, fh):
            if path == "/disk":
                if offset + len(data) > self.size:
                    raise fusepy.FuseOSError(errno.ENOSPC)
                os.pwrite(self.image, data, offset)
                self.entry(WRITE, offset, data)
            else:
                self.text.write(data)
                self.text.flush()
                self.entry(NOTE, 0, data)
            return len(data)

        def fsync(self, path, datasync, fh):
            if path == "/disk":
                self.entry(FLUSH)
                self.log.flush()
            return 0

        def destroy(self, path):
            self.log.close()
            self.text.close()

    fusepy.FUSE(Disk(), folder, foreground=True, nothreads=True, direct_io=True)


def read_log(path):
    entries = []
    with open(path, "rb") as log:
        while header := log.read(HEADER.size):
            kind, offset, size = HEADER.unpack(header)
            entries.append((kind, offset, log.read(size)))
    return entries


def note_index(entries, start, after=0):
    prefix = start.encode()
    for i, (kind, _, data) in enumerate(entries[after:], after):
        if kind == NOTE and data.startswith(prefix):
            return i
    sys.exit(f"replay: no note starts with {start!r}")


def subsets(count, rng):
    if 2**count <= IMAGES_PER_FLUSH:
        return [[i for i in range(count) if mask >> i & 1] for mask in range(2**count)]
    chosen = [[], list(range(count))]
    while len(chosen) < IMAGES_PER_FLUSH:
        pick = sorted(rng.sample(range(count), rng.randint(1, count - 1)))
        if pick not in chosen:
            chosen.append(pick)
    return chosen


def blank_lines(size):
    # As the in-place save pads: CR LF pairs, after one space for an odd count.
    return b" " * (size % 2) + b"\r\n" * (size // 2)


def classify(found, old, new):
    if found is None:
        return "unreadable"
    for name, text in (("new", new), ("old", old)):
        rest = found[len(text):]
        if found.startswith(text) and rest == blank_lines(len(rest)):
            return name + (" + blank lines" if rest else "")
    if found == new[: len(old)]:
        return "torn: the new text cut to the old length"
    return "torn"


def write_sparse(path, data):
    # Most of the image is zeros: writing only the rest is what makes a few
    # hundred images quick.
    with open(path, "wb") as out:
        out.truncate(len(data))
        for offset in range(0, len(data), BLOCK):
            block = data[offset:offset + BLOCK]
            if block.count(0) != BLOCK:
                out.seek(offset)
                out.write(block)


def read_image(image, file):
    with tempfile.TemporaryDirectory() as folder:
        if subprocess.run(["mount", "-t", "ext4", "-o", "loop", image, folder],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            return None
        try:
            with open(os.path.join(folder, file), "rb") as f:
                return f.read()
        except OSError:
            return None
        finally:
            subprocess.run(["umount", folder], check=True)


def replay(base, log_path, file, old_path, new_path, enter, reload):
    old, new = open(old_path, "rb").read(), open(new_path, "rb").read()
    entries = read_log(log_path)
    first = note_index(entries, enter)
    request = note_index(entries, reload, first)
    flushes = [i for i, (kind, _, _) in enumerate(entries) if kind == FLUSH]
    writes_after = sum(1 for kind, _, _ in entries[first:] if kind == WRITE)
    print(f"after Enter: {writes_after} block writes, {sum(1 for i in flushes if i > first)} flushes")

    disk = bytearray(open(base, "rb").read())  # as it stood at the last flush
    rng = random.Random(RANDOM_START)
    starts = [-1] + flushes  # -1: the base image, before any flush
    begin = max(i for i in starts if i < first)
    counts, failures, images = {}, 0, 0
    image = os.path.join(os.path.dirname(os.path.abspath(log_path)), "crash.img")
    for start, end in zip(starts, starts[1:] + [len(entries)]):
        pending = [(offset, data) for kind, offset, data in entries[start + 1:end] if kind == WRITE]
        for pick in subsets(len(pending), rng) if start >= begin else []:
            crash = bytearray(disk)
            for i in pick:
                offset, data = pending[i]
                crash[offset:offset + len(data)] = data
            write_sparse(image, crash)
            outcome = classify(read_image(image, file), old, new)
            if request < end and outcome.startswith("old"):
                outcome += " after the reload request"
            counts[outcome] = counts.get(outcome, 0) + 1
            images += 1
            if outcome not in WHOLE:
                failures += 1
                flush = sum(1 for i in flushes if first < i <= start)
                print(f"FAIL: a crash after flush {flush} from Enter on, with {len(pick)} of the "
                      f"{len(pending)} writes after it: {outcome}")
        for offset, data in pending:
            disk[offset:offset + len(data)] = data
    os.remove(image)
    print(f"crash images: {images}; " + ", ".join(f"{n} {what}" for what, n in sorted(counts.items())))
    return failures


def main(args):
    if args[:1] == ["record"] and len(args) == 5:
        record(*args[1:])
        return 0
    if args[:1] == ["replay"] and len(args) == 8:
        return min(replay(*args[1:]), 125)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
