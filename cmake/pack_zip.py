#!/usr/bin/python3
"""Zips a folder so that the same files give the same bytes: entries in sorted
order, each dated SOURCE_DATE_EPOCH (UTC), folders 0755 and files 0644, and
no extra fields (cmake -E tar writes the files' access and change times and
owners, and the folder's order on disk).

Usage: pack_zip.py FOLDER ZIP   (the zip holds FOLDER's name as its top folder)
"""

import os
import sys
import time
import zipfile


def main():
    folder, out = os.path.abspath(sys.argv[1]), sys.argv[2]
    epoch = int(os.environ['SOURCE_DATE_EPOCH'])
    # A zip's dates are DOS dates: 1980 to 2107, to two seconds.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    top = os.path.basename(folder)
    entries = [top + '/']
    for root, dirs, files in os.walk(folder):
        relative = os.path.relpath(root, os.path.dirname(folder))
        entries += [f'{relative}/{d}/' for d in dirs] + [f'{relative}/{f}' for f in files]
    entries.sort()

    with zipfile.ZipFile(out + '.part', 'w') as archive:
        for name in entries:
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3  # Unix, so that the modes below count
            if name.endswith('/'):
                info.external_attr = (0o40755 << 16) | 0x10
                archive.writestr(info, b'')
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(os.path.join(os.path.dirname(folder), name), 'rb') as data:
                    archive.writestr(info, data.read(), compresslevel=9)
    os.replace(out + '.part', out)


if __name__ == '__main__':
    main()
