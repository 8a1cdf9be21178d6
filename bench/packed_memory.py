"""Peak memory of one sampling call, relative to the arrays it returns.

Each case runs in a fresh interpreter: it builds the sampler for a distance-9, 20-round
repetition-code memory experiment at p = 1e-3 (from the shared benchmark circuits), resets the
process's peak resident size, makes one call of --shots shots and reports how far the peak rose
above the resident size before the call, divided by the bytes of the four returned arrays. A
ratio near 1 means the call wrote its results straight into their final arrays.

    python bench/packed_memory.py [--shots N] [--circuits ../shared/bench_circuits.py]
"""

import argparse
import json
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

CHILD = r"""
import importlib.util, json, sys
import velkor

def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
    raise RuntimeError(field)

spec = importlib.util.spec_from_file_location("bench_circuits", sys.argv[1])
circuits = importlib.util.module_from_spec(spec)
spec.loader.exec_module(circuits)
method, bit_packed, shots = sys.argv[2], sys.argv[3] == "packed", int(sys.argv[4])
sampler = velkor.CircuitSampler(circuits.repetition_memory(9, 20, 1e-3), seed=1)
sample = getattr(sampler, method)
sample(10, bit_packed=bit_packed)  # first-call costs (NumPy's allocator caches) out of the way
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak (VmHWM) from the current resident size
before = status("VmRSS")
result = sample(shots, bit_packed=bit_packed)
peak = status("VmHWM")
arrays = (result.measurements, result.detectors, result.observables, result.exp_vals)
print(json.dumps({"rise": peak - before, "bytes": sum(a.nbytes for a in arrays)}))
"""

CASES = [("sample", "packed"), ("sample_detectors", "packed"),
         ("sample", "unpacked"), ("sample_detectors", "unpacked")]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=1_000_000)
    parser.add_argument("--circuits", default=str(ROOT.parent / "shared" / "bench_circuits.py"))
    args = parser.parse_args()
    mib = 1 << 20
    print(f"repetition code d=9, 20 rounds, p=1e-3; {args.shots} shots per call; "
          f"peak resident rise / bytes returned")
    print(f"{'call':<40} {'returned MiB':>12} {'peak rise MiB':>14} {'ratio':>6}")
    for method, packing in CASES:
        run = subprocess.run([sys.executable, "-c", CHILD, args.circuits, method, packing,
                              str(args.shots)], capture_output=True, text=True)
        call = f"{method}(bit_packed={packing == 'packed'})"
        if run.returncode != 0:
            print(f"{call:<40} failed: {run.stderr.strip().splitlines()[-1]}")
            continue
        m = json.loads(run.stdout)
        print(f"{call:<40} {m['bytes'] / mib:12.1f} {m['rise'] / mib:14.1f} "
              f"{m['rise'] / m['bytes']:6.2f}")


if __name__ == "__main__":
    main()
