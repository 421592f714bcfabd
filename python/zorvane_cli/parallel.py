"""Work over many files in batches: in worker processes when there is enough of it to share, else in this process,
with a progress bar on standard error when that is a terminal and the run takes a while."""

from __future__ import annotations

import collections
import contextlib
import functools
import importlib
import itertools
import multiprocessing
import os
import pickle
import signal
import sys
import tempfile
import threading
from collections.abc import Callable, Generator, Iterable, Iterator, Sequence
from concurrent.futures import Future, ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from typing import Any, TextIO, TypeVar

from zorvane_cli.sources import Input

Result = TypeVar("Result")
Item = TypeVar("Item")

# A batch is what one worker takes at a time: large enough that handing it over costs little beside its work, small
# enough that the workers finish together and the progress bar moves.
BATCH_BYTES = 1 << 20
BATCH_FILES = 256
# A progress bar appears only once a run has taken this long.
PROGRESS_DELAY = 1.0


def default_jobs() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def batches(inputs: Sequence[Input]) -> list[list[Input]]:
    out: list[list[Input]] = []
    current: list[Input] = []
    size = 0
    for item in inputs:
        if current and (size + item.size > BATCH_BYTES or len(current) >= BATCH_FILES):
            out.append(current)
            current, size = [], 0
        current.append(item)
        size += item.size
    if current:
        out.append(current)
    return out


def worth_sharing(inputs: Sequence[Input], seconds_per_file: float, seconds_per_byte: float) -> bool:
    """Whether the work is estimated to take longer than starting worker processes and handing it to them; below
    that it runs here, so that more jobs never make a small run slower."""
    estimate = len(inputs) * seconds_per_file + sum(item.size for item in inputs) * seconds_per_byte
    return estimate > 0.5


def _workers(todo: list[list[Input]], jobs: int, share: bool) -> int:
    return min(jobs, len(todo)) if share else 1


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the main process alone answers it, and stops the workers. A forked
    # worker inherits the main process's handlers: the main process ends a worker with SIGTERM.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)


def run(
    work: Callable[[list[Input]], Result], inputs: Sequence[Input], jobs: int, share: bool
) -> Generator[tuple[list[Input], Result], None, None]:
    """Each batch of the inputs with its result, in input order."""
    todo = batches(inputs)
    workers = _workers(todo, jobs, share)
    if workers <= 1:
        for batch in todo:
            yield batch, work(batch)
        return
    yield from _in_workers(work, todo, workers)


def stream(
    work: Callable[[list[Input]], Iterable[Item]], inputs: Sequence[Input], jobs: int, share: bool
) -> Generator[tuple[list[Input], Iterator[Item]], None, None]:
    """Each batch of the inputs with the items its work yields, in input order, for work that yields more than a
    process should hold at once. In this process the items are made as they are read; a worker writes those of its
    batch to a temporary file, read back and removed once the batch's turn comes."""
    todo = batches(inputs)
    workers = _workers(todo, jobs, share)
    if workers <= 1:
        for batch in todo:
            yield batch, iter(work(batch))
        return
    # A worker stopped in the middle of writing may leave a file behind as the directory goes: no reason to fail.
    with tempfile.TemporaryDirectory(prefix="zorvane-", ignore_cleanup_errors=True) as directory:
        with contextlib.closing(_in_workers(functools.partial(_spool, work, directory), todo, workers)) as spooled:
            for batch, path in spooled:
                yield batch, _unspool(path)


def _spool(work: Callable[[list[Input]], Iterable[Item]], directory: str, batch: list[Input]) -> str:
    try:
        descriptor, path = tempfile.mkstemp(dir=directory)
        with open(descriptor, "wb") as spool:
            for item in work(batch):
                pickle.dump(item, spool, pickle.HIGHEST_PROTOCOL)
    except OSError as e:
        # Not the output: say which disk ran short, and how to choose another.
        message = f"cannot write the workers' temporary files ({e.strerror or e}; TMPDIR chooses where they go)"
        raise OSError(e.errno, message, directory) from None
    return path


def _unspool(path: str) -> Iterator[Any]:
    with open(path, "rb") as spool:
        # Gone from the directory once open, however the reading ends: a reader left unfinished, closed only after
        # the directory itself has gone, has nothing to remove.
        os.unlink(path)
        while True:
            try:
                yield pickle.load(spool)
            except EOFError:
                return


def _in_workers(
    work: Callable[[list[Input]], Result], todo: list[list[Input]], workers: int
) -> Generator[tuple[list[Input], Result], None, None]:
    # Unlike a multiprocessing pool, which waits forever for the batch of a worker that died, the executor reports it.
    executor = ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context(), initializer=_ignore_interrupts)
    # Batches are handed over only a few ahead of the one the caller takes, so that finished results (or the files
    # they are spooled to) pile up no further than that while it writes.
    ahead = iter(todo)
    started: collections.deque[Future[Result]] = collections.deque()
    with _Signals(executor) as signals:
        try:
            for batch in itertools.islice(ahead, 2 * workers):
                started.append(signals.call(executor.submit, work, batch))
            for batch in todo:
                try:
                    result = signals.call(started.popleft().result)
                    later = next(ahead, None)
                    if later is not None:
                        started.append(signals.call(executor.submit, work, later))
                except BrokenProcessPool:
                    raise WorkerLost(
                        "a worker process ended before handing back its files (killed, or out of memory?); "
                        f"nothing from {batch[0].name} on is reported"
                    ) from None
                yield batch, result
        except BaseException:
            # Interrupted, or the caller stopped reading: what the workers do is not wanted.
            signals.call(_stop_workers, executor)
            raise
        finally:
            signals.call(executor.shutdown, wait=False, cancel_futures=True)


class _Signals:
    """Ctrl-C and SIGTERM while worker processes run. Raised just anywhere, the interrupt may land inside the
    executor's own locking (a `with` on a condition holds its lock before the block starts) and leave a lock held, which
    the executor's thread then waits for forever as the interpreter exits. Inside the executor's calls a signal stops
    the workers instead, which ends any wait with a broken pool, and is raised as soon as the call returns; elsewhere it
    is raised as usual."""

    def __init__(self, executor: ProcessPoolExecutor) -> None:
        self.executor = executor
        self.inside = False
        self.pending: int | None = None
        self.previous: dict[int, Any] = {}

    def __enter__(self) -> _Signals:
        if threading.current_thread() is threading.main_thread():
            for signum in (signal.SIGINT, signal.SIGTERM):
                handler = signal.getsignal(signum)
                if callable(handler):  # the signals ignored, or left to end the process, stay so
                    self.previous[signum] = signal.signal(signum, self._handle)
        return self

    def __exit__(self, *exc: object) -> None:
        for signum, handler in self.previous.items():
            signal.signal(signum, handler)

    def call(self, function: Callable[..., Result], *args: Any, **kwargs: Any) -> Result:
        self.inside = True
        try:
            return function(*args, **kwargs)
        finally:
            self.inside = False
            signum, self.pending = self.pending, None
            if signum is not None:
                self.previous[signum](signum, None)

    def _handle(self, signum: int, frame: Any) -> None:
        if not self.inside:
            self.previous[signum](signum, frame)
            return
        self.pending = signum
        _stop_workers(self.executor)


def _stop_workers(executor: ProcessPoolExecutor) -> None:
    # Each process signalled directly, not through the executor, whose locks this thread may hold when a signal
    # handler calls this.
    for process in list((getattr(executor, "_processes", None) or {}).values()):
        process.terminate()


class WorkerLost(Exception):
    """A worker process ended without handing back its batch."""


class Progress:
    """A progress bar over files (through tqdm, when it is installed), and writing around it."""

    def __init__(self, total: int, stream: TextIO | None = None) -> None:
        stream = stream if stream is not None else sys.stderr
        self._bar: Any = None
        if total > 1 and stream.isatty():
            try:
                tqdm = importlib.import_module("tqdm").tqdm
            except ImportError:
                return
            # No monitor thread: worker processes may be forked after the bar starts.
            tqdm.monitor_interval = 0
            self._bar = tqdm(total=total, unit="file", file=stream, delay=PROGRESS_DELAY, leave=False)

    def advance(self, files: int) -> None:
        if self._bar is not None:
            self._bar.update(files)

    def write(self, text: str, stream: TextIO) -> None:
        if self._bar is None:
            stream.write(text)
        else:
            with self._bar.external_write_mode(file=stream):
                stream.write(text)
                stream.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
