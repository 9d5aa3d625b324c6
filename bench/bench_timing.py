"""Timing shared by the Python benches: how often a piece of work runs in a
few seconds, and random region reads of one level of a slide."""
import concurrent.futures
import random
import time


def rate(work, seconds, threads=1):
    """Calls work(rng) on `threads` threads for about `seconds`; returns calls/s."""
    def loop(seed):
        rng = random.Random(seed)
        count, start = 0, time.perf_counter()
        while time.perf_counter() - start < seconds:
            work(rng)
            count += 1
        return count, time.perf_counter() - start
    work(random.Random(99))  # warm up
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        results = list(pool.map(loop, range(threads)))
    return sum(c for c, _ in results) / max(t for _, t in results)


def region_reads(slide, level, size, **options):
    """work(rng): read_region of a size x size square at a random place of
    `level` (the place in level-0 pixels, as read_region takes it)."""
    downsample = slide.level_downsamples[level]
    width, height = slide.level_dimensions[level]

    def work(rng):
        x = rng.randrange(0, max(1, width - size))
        y = rng.randrange(0, max(1, height - size))
        slide.read_region((int(x * downsample), int(y * downsample)), level, (size, size),
                          **options)
    return work
