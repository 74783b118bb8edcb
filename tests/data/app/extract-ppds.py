# Writes the PPDs named on standard input (one "ppd/openprinting/..." name a line) from the
# archive of the openprinting-ppds driver (argument 1) into a directory (argument 2).
import base64, json, lzma, runpy, sys, os
driver = runpy.run_path(sys.argv[1], run_name="zorv_extract")
ppds = driver["load"]()
archive = lzma.decompress(base64.b64decode(ppds["ARCHIVE"].encode("ascii")))
out = sys.argv[2]
for name in sys.stdin.read().split():
    start, length = ppds["0/" + name][0], ppds["0/" + name][1]
    with open(os.path.join(out, os.path.basename(name)), "wb") as f:
        f.write(archive[start:start + length])
