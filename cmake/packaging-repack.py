"""Packs a staged folder into a ZIP file that depends only on the files'
names and contents: names in sorted order, one fixed time, fixed modes
(0755 for .exe and .dll, 0644 otherwise) and no extra fields.

    python3 packaging-repack.py ARCHIVE FOLDER

The archive holds FOLDER's own name as its top-level folder."""
import os
import sys
import zipfile

FIXED_TIME = (2000, 1, 1, 0, 0, 0)


def main(archive, folder):
    folder = os.path.abspath(folder)
    parent = os.path.dirname(folder)
    names = []
    for root, _dirs, files in os.walk(folder):
        for f in files:
            names.append(os.path.relpath(os.path.join(root, f), parent).replace(os.sep, "/"))
    with zipfile.ZipFile(archive + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(names):
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the mode below is kept
            mode = 0o755 if name.lower().endswith((".exe", ".dll")) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            with open(os.path.join(parent, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(archive + ".tmp", archive)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
