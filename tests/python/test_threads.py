"""Estimators on several Python threads: the same answers as on one, in parallel, and one
estimator shared by threads serves them in turn."""

import concurrent.futures
import time

import pytest

import litterpose
from conftest import BUNDLED, CONFIG, same_answer

ROUNDS = 8


def estimate_all(estimator, clouds):
    return [estimator.estimate(points, entry=entry) for points in clouds for entry in litterpose.ENTRIES]


@pytest.fixture(scope="module")
def clouds():
    return [litterpose.read_cloud(path) for path in BUNDLED]


def timed(threads, work):
    start = time.perf_counter()
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        answers = list(pool.map(lambda job: job(), work))
    return time.perf_counter() - start, answers


def test_four_threads_answer_as_one_and_in_parallel(clouds, capsys):
    estimators = [litterpose.Estimator(CONFIG) for _ in range(4)]
    serial = estimate_all(estimators[0], clouds)
    jobs = [lambda e=e: [estimate_all(e, clouds) for _ in range(ROUNDS)] for e in estimators]
    one_time, _ = timed(1, jobs)
    two_time, answers = timed(2, jobs)
    four_time, four_answers = timed(4, jobs)
    for rounds in answers + four_answers:
        for answer in rounds:
            for got, expected in zip(answer, serial):
                same_answer(got, expected)
    count = 4 * ROUNDS * len(serial)
    with capsys.disabled():
        print(f"\n{count} estimates: 1 thread {one_time:.3f} s, 2 threads {two_time:.3f} s,"
              f" 4 threads {four_time:.3f} s")


def test_one_estimator_shared_by_threads_serves_them_in_turn(clouds):
    shared = litterpose.Estimator(CONFIG, console=lambda line: None)
    serial = estimate_all(shared, clouds)
    _, answers = timed(4, [lambda: estimate_all(shared, clouds)] * 4)
    for answer in answers:
        for got, expected in zip(answer, serial):
            same_answer(got, expected)
