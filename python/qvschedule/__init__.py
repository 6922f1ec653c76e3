"""The QVSchedule scheduler for Python programs.

A Python program becomes the host of the scheduler: it subclasses :class:`Host`, hands an
instance to :class:`Scheduler`, loads a scheduler definition (XML) and starts it. The scheduler
then calls the host's methods, on its own timer thread, when vusers are to be initialized, run
or stopped. The host raises its events (all vusers initialized, a group finished running) with
:func:`notify_all_vusers_initialized` and :func:`notify_group_finished` from any thread.

Threads: host methods run on the scheduler's timer thread (or on the thread that raised an event,
or inside start, pause, resume and stop) with the GIL taken for the call only. Every function of
this package releases the GIL while it waits for the scheduler, so a host may query, pause or stop
from inside its own methods and other threads may query while a host method runs.

Logging: the library's log goes to Python's :mod:`logging` under the library's logger names,
"QVSchedule" (errors, details, traces) and "QVScheduleTest" (scheduler states and host calls with
their results). Error records always arrive; the others only once enabled with
:func:`set_log_enabled`. Records carry the library's source file and line, and the library's name
of their kind in the attribute ``qv_kind`` ("INFO", "ENTER", "EXIT", "ERROR", "NOTICE").
"""

import atexit
import dataclasses
import enum
import logging
import os
from typing import Optional, Sequence, Union

from . import _core
from ._core import Clock, ManualClock, ScaledClock

__all__ = [
    "ALL_VUSERS",
    "ActionStage",
    "Clock",
    "DefinitionError",
    "Diagnostic",
    "Host",
    "ManualClock",
    "RunMode",
    "ScaledClock",
    "Scheduler",
    "Stage",
    "Status",
    "notify_all_vusers_initialized",
    "notify_group_finished",
    "set_log_enabled",
    "use_clock",
]


class Status(enum.IntEnum):
    """What a host method answers."""

    SUCCEEDED = 0
    FAILED = 1
    NO_MORE_VUSERS = 2
    ABANDONED = 3


class RunMode(enum.IntEnum):
    """How started vusers run: until they complete, or until they are stopped."""

    RUN_UNTIL_COMPLETE = 0
    RUN_INDEFINITELY = 1


class ActionStage(enum.IntEnum):
    """The stage of a schedule, as reported by :meth:`Scheduler.stage`."""

    RAMP_INIT_ALL = 0
    INIT_ALL = 1
    RAMP_UP_ALL = 3
    RAMP_UP = 4
    RUN = 5
    DURATION = 6
    RUN_UNTIL_COMPLETE = 7
    RUN_INDEFINITELY = 8
    RAMP_DOWN_ALL = 9
    RAMP_DOWN = 10
    STOP = 11
    NONE = 12


ALL_VUSERS = -999
"""``Stage.vusers_in_next_batch`` when the next batch is all vusers."""


@dataclasses.dataclass(frozen=True)
class Stage:
    """Where a schedule with a single scheduler runner stands."""

    current: ActionStage
    next: ActionStage
    seconds_to_next: int
    vusers_in_next_batch: int  # ALL_VUSERS when the next batch is all vusers
    has_next: bool


@dataclasses.dataclass(frozen=True)
class Diagnostic:
    """Something the scheduler found wrong (``severity`` "error": why it refused the definition)
    or doubtful ("warning": what it had to guess; the definition loads as without it).

    ``message`` is the library's text: for an error, the message it logged, or its own description
    where it logs none (a document that does not parse gets the parser's). ``path`` is the element
    (``/LoadTest/Scheduler[@ID="1"]/Manual/...``), ``line`` and ``column`` where it is in the text
    (counted from 1), ``value`` the text found there and ``expected`` what the format expects; each
    is None when unknown.
    """

    message: str
    path: Optional[str] = None
    line: Optional[int] = None
    column: Optional[int] = None
    value: Optional[str] = None
    expected: Optional[str] = None
    severity: str = "error"

    def __str__(self) -> str:
        where = f"{self.line}:{self.column}: " if self.line else ""
        return f"{where}{self.severity}: {self.message}"


def _diagnostics(records) -> tuple:
    def located(severity, message, path, line, column, value, expected):
        return Diagnostic(message, path or None, line or None, column or None, value or None, expected or None,
                          severity)
    return tuple(located(*record) for record in records)


class DefinitionError(ValueError):
    """The scheduler refused a definition. ``messages`` are the library's error messages of the
    load, ``error`` the located :class:`Diagnostic` of the refusal and ``diagnostics`` every
    diagnostic of the load (its warnings, then the error)."""

    def __init__(self, messages: Sequence[str], diagnostics: Sequence[Diagnostic] = ()):
        self.messages = tuple(messages)
        self.diagnostics = tuple(diagnostics)
        errors = [d for d in self.diagnostics if d.severity == "error"]
        self.error = errors[-1] if errors else None
        text = "\n".join(self.messages)
        if not text:
            text = str(self.error) if self.error else "the scheduler refused the definition"
        super().__init__(text)


def _not_supported(operation: str) -> Status:
    logging.getLogger("QVSchedule").error("%s not supported by this host", operation)
    return Status.FAILED


class Host:
    """The vusers the scheduler drives. Subclass it and override what your vusers support.

    Every operation answers a :class:`Status`; one that is not overridden answers
    ``Status.FAILED`` and logs "<operation> not supported by this host" as an error. Run modes
    arrive as :class:`RunMode`, counts as ints, group names as str. An exception raised here is
    logged with its traceback and counts as a failed call. The four ``on_...`` notifications
    answer nothing; ``is_in_final_stage`` answers a bool (False unless overridden).

    The arguments keep the order of the library's interface: the init operations take the count
    before the run mode, the run operations the run mode before the count.
    """

    def on_scheduler_finished(self) -> None:
        """The schedule has finished (every group finished or failed)."""

    def on_scheduler_paused(self) -> None:
        """The schedule was paused."""

    def on_scheduler_resumed(self) -> None:
        """The schedule was resumed."""

    def on_group_finished(self, group: str) -> None:
        """The schedule of a group has finished; groups that start after it wait until the host
        raises :func:`notify_group_finished` for it."""

    def init_all_vusers(self, run_mode: RunMode) -> Status:
        return _not_supported("init_all_vusers")

    def init_vusers(self, count: int, run_mode: RunMode) -> Status:
        return _not_supported("init_vusers")

    def run_all_vusers(self, run_mode: RunMode) -> Status:
        return _not_supported("run_all_vusers")

    def run_vusers(self, run_mode: RunMode, count: int) -> Status:
        return _not_supported("run_vusers")

    def stop_all_vusers(self) -> Status:
        return _not_supported("stop_all_vusers")

    def stop_vusers(self, count: int) -> Status:
        return _not_supported("stop_vusers")

    def can_start_duration(self) -> Status:
        return _not_supported("can_start_duration")

    def is_in_final_stage(self) -> bool:
        """Whether every vuser of the scenario has been started."""
        return False

    def init_all_group_vusers(self, group: str, run_mode: RunMode) -> Status:
        return _not_supported("init_all_group_vusers")

    def init_group_vusers(self, group: str, count: int, run_mode: RunMode) -> Status:
        return _not_supported("init_group_vusers")

    def run_all_group_vusers(self, group: str, run_mode: RunMode) -> Status:
        return _not_supported("run_all_group_vusers")

    def run_group_vusers(self, group: str, run_mode: RunMode, count: int) -> Status:
        return _not_supported("run_group_vusers")

    def stop_all_group_vusers(self, group: str) -> Status:
        return _not_supported("stop_all_group_vusers")

    def stop_group_vusers(self, group: str, count: int) -> Status:
        return _not_supported("stop_group_vusers")

    def can_start_group_duration(self, group: str) -> Status:
        return _not_supported("can_start_group_duration")


def _without_nul(data: bytes, what: str) -> bytes:
    if b"\0" in data:
        raise ValueError(f"{what} contains a NUL character")
    return data


class Scheduler:
    """The scheduler of the process. There is one: ``Scheduler()`` always returns it.

    A loaded definition replaces any loaded or running schedule; ``stop`` discards the schedule,
    so a definition must be loaded again before the next ``start``.
    """

    _instance: Optional["Scheduler"] = None

    def __new__(cls) -> "Scheduler":
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def set_host(self, host: Optional[Host]) -> None:
        """Install the host (kept alive while installed); None detaches it, so that every
        operation answers FAILED."""
        if host is not None and not isinstance(host, Host):
            raise TypeError(f"a qvschedule.Host instance or None is expected, not {type(host).__name__}")
        _core.set_host(host)

    def load_file(self, path: Union[str, os.PathLike]) -> None:
        """Load a definition file; raises OSError when the file cannot be read, DefinitionError
        when the scheduler refuses it."""
        with open(path, "rb"):
            pass
        self._load(_without_nul(os.fsencode(path), "the path"), is_file=True)

    def load_string(self, text: Union[str, bytes]) -> None:
        """Load a definition from its XML text; raises DefinitionError when refused."""
        data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
        self._load(_without_nul(data, "the definition"), is_file=False)

    @staticmethod
    def _load(argument: bytes, is_file: bool) -> None:
        accepted, messages, diagnostics = _core.load(argument, is_file)
        if not accepted:
            raise DefinitionError(messages, _diagnostics(diagnostics))

    @staticmethod
    def diagnostics() -> tuple:
        """The :class:`Diagnostic` records of the last load (its warnings, then, when it was
        refused, the error); empty before the first load."""
        return _diagnostics(_core.last_diagnostics())

    def start(self) -> None:
        _core.start()

    def stop(self) -> None:
        _core.stop()

    def pause(self) -> None:
        _core.pause()

    def resume(self) -> None:
        _core.resume()

    @property
    def running(self) -> bool:
        return _core.is_running()

    @property
    def paused(self) -> bool:
        return _core.is_paused()

    def stage(self) -> Optional[Stage]:
        """The stage of a schedule with one scheduler runner; None when there is none or several."""
        fields = _core.stage()
        if fields is None:
            return None
        current, upcoming, seconds, vusers, has_next = fields
        return Stage(ActionStage(current), ActionStage(upcoming), seconds, vusers, has_next)

    def run_time(self, group: Optional[str] = None) -> Optional[int]:
        """Seconds the scenario (or the group) has run, pauses excluded; None without such a
        schedule."""
        return _core.run_time(group)

    def run_mode(self, group: Optional[str] = None) -> Optional[RunMode]:
        """The run mode of the scenario's (or the group's) schedule; None without one."""
        mode = _core.run_mode(group)
        return None if mode is None else RunMode(mode)


def notify_all_vusers_initialized(group: Optional[str] = None) -> None:
    """All vusers of the scenario (or of the group) are initialized. From any thread."""
    _core.notify_all_vusers_initialized(group)


def notify_group_finished(group: str) -> None:
    """The vusers of the group finished running. From any thread."""
    _core.notify_group_finished(group)


def use_clock(clock: Optional[Clock]) -> None:
    """Install the clock of the whole process, through which the scheduler reads the time and
    waits; None restores the real clock.

    ``ManualClock(settle_timeout=60.0)`` moves only by hand, for tests: ``advance(seconds)`` moves
    it forward, stopping at every armed timer on the way; ``settle()`` waits until the scheduler
    has served everything due; ``run_until_idle(limit)`` jumps from timer to timer until nothing
    is armed (True) or ``limit`` seconds have passed (False). Each returns only once the
    scheduler has served what became due, and raises RuntimeError when that takes longer than
    ``settle_timeout`` seconds of real time. ``ScaledClock(speed)`` runs ``speed`` times faster
    than real time. ``now()`` of either is its time in seconds since 1970."""
    _core.use_clock(clock)


def set_log_enabled(logger: str, enabled: bool = True) -> None:
    """Enable or disable the non-error records of a library logger ("QVSchedule" or
    "QVScheduleTest"); both start disabled."""
    _core.set_log_enabled(logger, enabled)


_LEVELS = {"INFO": logging.INFO, "NOTICE": logging.INFO, "ENTER": logging.DEBUG, "EXIT": logging.DEBUG,
           "ERROR": logging.ERROR}


def _forward_log(name: str, kind: str, text: str, file: str, line: int, exc_info=None) -> None:
    logger = logging.getLogger(name)
    level = _LEVELS.get(kind, logging.INFO)
    if logger.isEnabledFor(level):
        logger.handle(logger.makeRecord(name, level, file, line, text, (), exc_info, extra={"qv_kind": kind}))


_core.install(RunMode, _forward_log)
atexit.register(_core.shutdown)
