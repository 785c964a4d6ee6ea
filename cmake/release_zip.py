#!/usr/bin/env python3
"""Writes the release zip of the files in a folder, the same bytes from the same files wherever
and whenever it runs.

    release_zip.py FOLDER TOP ZIP

Every file of FOLDER (and of its subfolders) goes into ZIP under the one folder TOP, for example
Panefix-1.20/, so that any way of extracting it gives one folder. What a zip records besides the
content is fixed: the entries come in byte order of their names, after the entry of TOP itself;
every entry has the time SOURCE_DATE_EPOCH (seconds since 1970, taken as UTC: a zip records a
local time without a time zone), a program (.exe) the mode 0755, any other file 0644 and a folder
0755; no owner, no extra field. The content is compressed with deflate at level 9.
"""
import os
import sys
import time
import zipfile

FILE_MODE = 0o100644
PROGRAM_MODE = 0o100755
FOLDER_MODE = 0o040755
MSDOS_FOLDER = 0x10
UNIX = 3  # the "made by" system, so that unzip on Linux keeps the modes above
EARLIEST_ZIP_TIME = 315532800  # 1980-01-01 00:00:00 UTC, where MS-DOS dates begin


def entry(name, when, mode):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = UNIX
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= MSDOS_FOLDER
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: release_zip.py FOLDER TOP ZIP")
    folder, top, zip_path = sys.argv[1], sys.argv[2].strip("/"), sys.argv[3]
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        sys.exit("release_zip.py: SOURCE_DATE_EPOCH must be set to a number of seconds")
    # An MS-DOS date holds even seconds from 1980 on.
    seconds = max(int(epoch), EARLIEST_ZIP_TIME)
    when = time.gmtime(seconds - seconds % 2)[:6]

    names = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for file in files:
            path = os.path.join(parent, file)
            names.append(os.path.relpath(path, folder).replace(os.sep, "/"))
    if not names:
        sys.exit(f"release_zip.py: no file in {folder}")
    names.sort(key=lambda name: name.encode("utf-8"))

    folders = sorted({f"{top}/" + "/".join(name.split("/")[:i]) + "/"
                      for name in names for i in range(1, name.count("/") + 1)})
    with zipfile.ZipFile(zip_path + ".new", "w") as archive:
        archive.writestr(entry(f"{top}/", when, FOLDER_MODE), b"")
        for name in folders:
            archive.writestr(entry(name, when, FOLDER_MODE), b"")
        for name in names:
            mode = PROGRAM_MODE if name.lower().endswith(".exe") else FILE_MODE
            with open(os.path.join(folder, name), "rb") as source:
                archive.writestr(entry(f"{top}/{name}", when, mode), source.read(),
                                 compresslevel=9)
    os.replace(zip_path + ".new", zip_path)


if __name__ == "__main__":
    main()
