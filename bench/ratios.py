#!/usr/bin/env python3
"""Reads pictavo_bench's JSON (--benchmark_format=json with repetitions) and
prints the medians and the ratios each target is judged by."""
import json
import sys

data = json.load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
median, unit = {}, {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") == "median":
        median[b["run_name"]] = b["real_time"]
        unit[b["run_name"]] = b["time_unit"]
for name, t in sorted(median.items()):
    print(f"{name:45s} {t:9.2f} {unit[name]}")

def ratio(label, a, b, target):
    if a in median and b in median:
        r = median[a] / median[b]
        print(f"{label:60s} {r:6.3f}  (target {target})")

print()
ratio("reduction / float decode, no sharpening", "BM_Reduce/0/0", "BM_LibjpegDecodeFloat6000x4000", "<= 0.10")
ratio("reduction / float decode, sharpening", "BM_Reduce/0/1", "BM_LibjpegDecodeFloat6000x4000", "<= 0.10")
ratio("TJPEGImage decode / direct decode", "BM_PhotoDecodeTJPEGImage", "BM_PhotoDecodeDirect", "<= 1.05")
ratio("TJPEGImage encode / direct encode", "BM_Encode800x533TJPEGImage", "BM_Encode800x533Direct", "<= 1.05")
ratio("BMP load / reading its bytes", "BM_BmpLoad6000x4000", "BM_BmpReadBytes6000x4000", "<= 2.0")
ratio("photo run tagged Adobe RGB / untagged", "BM_PhotoRun/2", "BM_PhotoRun/0", "<= 1.02")
ratio("photo run tagged sRGB / untagged", "BM_PhotoRun/1", "BM_PhotoRun/0", "<= 1.02")

# A small picture's resize, part by part (BM_SmallPicturePart): parts 1 to 3
# each include the one before, so the decode and the reduction are differences.
part = {k: median.get(f"BM_SmallPicturePart/{k}") for k in range(8)}
if all(v is not None for v in part.values()):
    print("\na small picture's resize to 320 x 240, each part against the whole (the write is not in it):")
    for label, value in (("open and header", part[1]), ("decode", part[2] - part[1]),
                         ("reduce", part[3] - part[2]), ("colour step", part[4]), ("encode", part[5]),
                         ("write and rename", part[6]), ("memory reservation", part[7]),
                         ("the rest", part[0] - part[3] - part[4] - part[5] - part[7])):
        print(f"  {label:22s} {value:9.1f} us  {value / part[0]:6.3f}")
