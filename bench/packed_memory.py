"""Peak memory of one sampling call, relative to the arrays it returns.

Each case runs in a fresh interpreter: it builds the sampler for a circuit from the shared
benchmark circuits (a distance-9, 20-round repetition code, and rotated surface codes of growing
distance, d rounds, all at p = 1e-3), resets the process's peak resident size, makes one call and
reports how far the peak rose above the resident size before the call, divided by the bytes of
the four returned arrays. A ratio near 1 means the call wrote its results straight into their
final arrays, whatever the size.

    python bench/packed_memory.py [--shots N] [--surface-shots N] [--surface-distances 3,5,7]
                                  [--circuits ../shared/bench_circuits.py]
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

loader = importlib.util.spec_from_file_location("bench_circuits", sys.argv[1])
circuits = importlib.util.module_from_spec(loader)
loader.loader.exec_module(circuits)
make, distance, rounds, method, packing, shots = sys.argv[2:]
text = getattr(circuits, make)(int(distance), int(rounds), 1e-3)
sampler = velkor.CircuitSampler(text, seed=1)
sample, bit_packed = getattr(sampler, method), packing == "packed"
sample(10, bit_packed=bit_packed)  # first-call costs (NumPy's allocator caches) out of the way
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak (VmHWM) from the current resident size
before = status("VmRSS")
result = sample(int(shots), bit_packed=bit_packed)
peak = status("VmHWM")
arrays = (result.measurements, result.detectors, result.observables, result.exp_vals)
print(json.dumps({"rise": peak - before, "bytes": sum(a.nbytes for a in arrays)}))
"""

CALLS = [("sample", "packed"), ("sample_detectors", "packed"),
         ("sample", "unpacked"), ("sample_detectors", "unpacked")]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=1_000_000, help="repetition-code shots")
    parser.add_argument("--surface-shots", type=int, default=100_000)
    parser.add_argument("--surface-distances", default="3,5,7")
    parser.add_argument("--circuits", default=str(ROOT.parent / "shared" / "bench_circuits.py"))
    args = parser.parse_args()
    circuits = [("repetition d=9 r=20", "repetition_memory", 9, 20, args.shots, CALLS)]
    circuits += [(f"surface d={d} r={d}", "rotated_surface_memory_z", d, d, args.surface_shots,
                  CALLS[:2]) for d in map(int, args.surface_distances.split(","))]
    mib = 1 << 20
    print("command: python " + " ".join(sys.argv))
    print("p=1e-3; peak resident rise during one call / bytes of the arrays it returns")
    print(f"{'circuit':<20} {'shots':>9} {'call':<34} {'returned MiB':>12} {'rise MiB':>9} "
          f"{'ratio':>6}")
    for label, make, distance, rounds, shots, calls in circuits:
        for method, packing in calls:
            run = subprocess.run(
                [sys.executable, "-c", CHILD, args.circuits, make, str(distance), str(rounds),
                 method, packing, str(shots)], capture_output=True, text=True)
            call = f"{method}(bit_packed={packing == 'packed'})"
            if run.returncode != 0:
                print(f"{label:<20} {shots:>9} {call:<34} failed: "
                      f"{run.stderr.strip().splitlines()[-1]}")
                continue
            m = json.loads(run.stdout)
            print(f"{label:<20} {shots:>9} {call:<34} {m['bytes'] / mib:12.1f} "
                  f"{m['rise'] / mib:9.1f} {m['rise'] / m['bytes']:6.2f}", flush=True)


if __name__ == "__main__":
    main()
