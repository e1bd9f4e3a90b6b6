"""Estimators on several Python threads answer as on one, in parallel; one estimator shared
by threads serves them in turn."""

import concurrent.futures
import sys
import threading
import time

import litterpose
from conftest import BUNDLED, CONFIG, same_answer

ROUNDS = 8


def estimate_all(estimator, clouds):
    return [estimator.estimate(points, entry=entry) for points in clouds for entry in litterpose.ENTRIES]


def timed(threads, jobs):
    wall, cpu = time.perf_counter(), time.process_time()
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        answers = list(pool.map(lambda job: job(), jobs))
    return answers, f"{time.perf_counter() - wall:.3f} s (CPU {time.process_time() - cpu:.3f} s)"


def test_four_threads_answer_as_one_and_in_parallel(capsys):
    clouds = [litterpose.read_cloud(path) for path in BUNDLED]
    estimators = [litterpose.Estimator(CONFIG) for _ in range(4)]
    serial = estimate_all(estimators[0], clouds)
    jobs = [lambda e=e: [estimate_all(e, clouds) for _ in range(ROUNDS)] for e in estimators]
    report = []
    for threads in (1, 2, 4):
        answers, times = timed(threads, jobs)
        report.append(f"{threads} thread(s) {times}")
        for answer in (a for rounds in answers for a in rounds):
            for got, expected in zip(answer, serial, strict=True):
                same_answer(got, expected)
    with capsys.disabled():
        print(f"\n4 x {ROUNDS * len(serial)} estimates:", ", ".join(report))


def test_one_estimator_shared_by_threads_serves_them_in_turn():
    clouds = [litterpose.read_cloud(path) for path in BUNDLED[:4]]
    shared = litterpose.Estimator(CONFIG, console=lambda line: None)
    serial = estimate_all(shared, clouds)
    answers, _ = timed(4, [lambda: estimate_all(shared, clouds)] * 4)
    for answer in answers:
        for got, expected in zip(answer, serial, strict=True):
            same_answer(got, expected)



def test_python_threads_run_while_an_estimate_runs(default_points):
    """The GIL is released during an estimate: another thread's Python code runs meanwhile."""
    estimator, big = litterpose.Estimator(CONFIG), default_points.repeat(400, axis=0)
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())

    # Threads switch within 1 ms, so that returned is read at most that late.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-3)
    counter = threading.Thread(target=tick)
    counter.start()
    entry = estimator.estimate(big).elapsed_ms / 1000
    returned = time.perf_counter()
    stop.set()
    counter.join()
    sys.setswitchinterval(interval)
    assert entry > 0.01
    # The middle of the entry's run, which ended just before the call returned.
    assert any(returned - 0.8 * entry < t < returned - 0.2 * entry for t in ticks)
