"""Wall-clock throughput of sampling on several cores, against one thread in the same run.

For each circuit (rotated surface-code memory, rounds = distance, from the shared generators),
prints shots per second of:
  1 thread     CircuitSampler.sample in one call (the baseline)
  threads=N    velkor.sample_parallel with N threads, for each N of --threads
  dask         velkor.dask.count on a LocalCluster of --dask-workers single-threaded processes
               (started before timing; only the totals come back)
  sinter w=N   sinter.collect with velkor.sinter.VelkorSampler and pymatching, N worker
               processes, for each N of --sinter-workers (decoding included, process start
               excluded as far as sinter allows: the figure is shots / wall time of collect)
and each figure divided by the 1-thread one (for sinter: by sinter with 1 worker), then how the
1-thread rate falls with the distance. Beside the wall-clock rates it prints the CPU time per
shot of each contender (all its threads; for dask, the worker processes' time) and the speed-up
that CPU time allows on N cores, N x (1-thread CPU per shot) / (CPU per shot): figures that a
loaded machine disturbs far less than wall-clock ones. Each figure is the best of --rounds rounds, contenders
interleaved so that drift hits all alike. Prints the load average before and after: other work
depresses every speed-up, and where Linux groups tasks by session (autogroup scheduling) a busy
machine gives this session the same CPU share however many threads it runs.

    pip install '.[bench,dask,sinter]' && python bench/scaling.py [--shots N] [--rounds R]
        [--kinds surface,t-surface] [--distances 3,5,7] [--threads 2] [--dask-workers 2]
        [--sinter-workers 1,2] [--sinter-distance 5] [--sinter-shots N] [--circuits PATH]
"""

import argparse
import math
import os
import pathlib
import sys
import time

import velkor
from shared_circuits import load_generators

ROOT = pathlib.Path(__file__).resolve().parent.parent


def measure(run, shots: int, cpu_time) -> tuple[float, float]:
    """Shots per second of wall-clock time and seconds of CPU time per shot."""
    cpu, start = cpu_time(), time.perf_counter()
    run(shots)
    wall = time.perf_counter() - start
    return shots / wall, (cpu_time() - cpu) / shots


def workers_cpu_time(client) -> float:
    """The CPU time used so far by the Dask worker processes."""
    return sum(client.run(time.process_time).values())


def sinter_run(text: str, workers: int):
    import sinter

    import velkor.sinter

    task = velkor.sinter.task(text)
    sampler = velkor.sinter.VelkorSampler("pymatching")

    def run(shots: int) -> None:
        sinter.collect(num_workers=workers, tasks=[task], max_shots=shots,
                       custom_decoders={"velkor": sampler})
    return run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shots", type=int, default=50_000, help="shots per round at d=5")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--kinds", default="surface,t-surface")
    parser.add_argument("--distances", default="3,5,7")
    parser.add_argument("--threads", default="2")
    parser.add_argument("--dask-workers", type=int, default=2)
    parser.add_argument("--sinter-workers", default="1,2")
    parser.add_argument("--sinter-distance", type=int, default=5)
    parser.add_argument("--sinter-shots", type=int, default=100_000)
    parser.add_argument("--noise", type=float, default=0.001)
    parser.add_argument("--circuits", type=pathlib.Path,
                        default=ROOT.parent / "shared" / "bench_circuits.py")
    args = parser.parse_args()
    generators = load_generators(args.circuits)
    threads = [int(n) for n in args.threads.split(",")]
    sinter_workers = [int(n) for n in args.sinter_workers.split(",") if n]

    print(f"command: python {' '.join(sys.argv)}")
    print(f"cores: {len(os.sched_getaffinity(0))}; load average before: {os.getloadavg()}")
    client = None
    if args.dask_workers:
        import distributed

        from velkor import dask as velkor_dask

        cluster = distributed.LocalCluster(n_workers=args.dask_workers, threads_per_worker=1,
                                           processes=True, dashboard_address=None)
        client = distributed.Client(cluster)
    for kind in args.kinds.split(","):
        rates_by_distance = {}
        for distance in (int(d) for d in args.distances.split(",")):
            text = generators[kind](distance, distance, args.noise)
            # Fewer shots on larger codes, so that every round takes about as long.
            shots = max(1000, int(args.shots * (5 / distance) ** 3))
            sampler = velkor.CircuitSampler(text, seed=1)
            contenders = {"1 thread": lambda n, s=sampler: s.sample(n)}
            cores = {"1 thread": 1}  # of the contenders whose CPU time is measured
            for n in threads:
                contenders[f"threads={n}"] = (
                    lambda k, n=n, t=text: velkor.sample_parallel(t, k, seed=1, num_threads=n))
                cores[f"threads={n}"] = n
            if client is not None:
                contenders["dask"] = (
                    lambda k, t=text: velkor_dask.count(t, k, seed=1, client=client))
                cores["dask"] = args.dask_workers
            if distance == args.sinter_distance:
                for n in sinter_workers:
                    contenders[f"sinter w={n}"] = sinter_run(text, n)
            best: dict[str, float] = {}
            cpu: dict[str, float] = {}
            # Each contender's rounds run back to back: the best round is then a call in a
            # sampling loop, as in a long collection, and not the first call after another
            # contender has left the memory in pages of the other size.
            for name, run in contenders.items():
                for _ in range(args.rounds):
                    count = args.sinter_shots if name.startswith("sinter") else shots
                    clock = (lambda: workers_cpu_time(client)) if name == "dask" else (
                        time.process_time)
                    rate, cpu_per_shot = measure(run, count, clock)
                    best[name] = max(best.get(name, 0.0), rate)
                    cpu[name] = min(cpu.get(name, math.inf), cpu_per_shot)
            rates_by_distance[distance] = best["1 thread"]
            sinter_base = best.get(f"sinter w={sinter_workers[0]}") if sinter_workers else None
            for name, rate in best.items():
                base = sinter_base if name.startswith("sinter") else best["1 thread"]
                count = args.sinter_shots if name.startswith("sinter") else shots
                line = (f"{kind:9s} d={distance:<2d} {count:7d} shots  {name:12s} "
                        f"{rate:12,.0f} shots/s  {rate / base:5.2f}x")
                if name in cores:  # not sinter, whose worker processes are out of reach
                    line += (f"  cpu {cpu[name] * 1e6:7.3f} us/shot  allows "
                             f"{cores[name] * cpu['1 thread'] / cpu[name]:4.2f}x")
                print(line)
        distances = sorted(rates_by_distance)
        if len(distances) > 1:
            xs = [math.log(d) for d in distances]
            ys = [-math.log(rates_by_distance[d]) for d in distances]
            mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
            slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum(
                (x - mx) ** 2 for x in xs)
            print(f"{kind:9s} time per shot on 1 thread grows as d^{slope:.2f}")
    if client is not None:
        client.close()
        cluster.close()
    print(f"load average after: {os.getloadavg()}")


if __name__ == "__main__":  # sinter and Dask start worker processes that import this file
    main()
