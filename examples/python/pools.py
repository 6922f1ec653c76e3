"""Vuser pools behind a qvschedule.Host, shared by the examples in this folder.

One pool per vuser group (one pool, "scenario", for a definition of the whole scenario); each
vuser in it is idle, initialized, running or done:
- init n / all: up to n / every idle vuser becomes initialized;
- run n / all: up to n / every vuser not yet started starts, initialized ones first;
- stop n / all: up to n / every running vuser stops, the most recently started first;
- a call answers NO_MORE_VUSERS when the pool had fewer vusers left than it asked for (a call for
  all of them: when none was left at all), SUCCEEDED otherwise; a duration may always start;
- "all vusers initialized" is raised init_seconds after the last initialization call of a pool
  (an init-all call, or an init call answered NO_MORE_VUSERS); in a definition by groups the
  scenario-wide event follows once every group's pool has had its last initialization call;
- "group finished running" is raised once the scheduler has reported the group's schedule
  finished and none of the group's vusers is running.

Subclasses decide what a running vuser is: start_vuser(pool, run_mode) returns a handle,
stop_vuser(handle) ends it, and a vuser that ends by itself reports with completed(pool, handle).
Every host call and event is printed as one line: TIME KIND POOL CALL COUNT STATUS [pool counts].
"""

import argparse
import os
import re
import sys
import threading

import qvschedule
from qvschedule import RunMode, Status

SCENARIO = "scenario"
ALL = None
DEFAULT_DEFINITION = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "typical-road.xml")


class Pool:
    def __init__(self, size):
        self.idle = size
        self.initialized = 0
        self.running = []  # handles, oldest first
        self.done = 0
        self.last_init_done = False
        self.schedule_finished = False
        self.finished_raised = False

    def __str__(self):
        return f"[idle {self.idle}, init {self.initialized}, run {len(self.running)}, done {self.done}]"


def _taken(count, available):
    return available if count is ALL else max(0, min(count, available))


def _status(count, taken):
    short = taken == 0 if count is ALL else taken < count
    return Status.NO_MORE_VUSERS if short else Status.SUCCEEDED


class PoolHost(qvschedule.Host):
    def __init__(self, clock, vusers, groups=(), init_seconds=5.0, speed=1.0):
        self.clock = clock
        self.origin = clock.now()
        self.by_group = bool(groups)
        self.vusers = vusers
        self.init_seconds = init_seconds
        self.speed = speed
        self.lock = threading.RLock()  # guards the pools; never held while calling the scheduler
        self.pools = {name: Pool(vusers) for name in (groups or [SCENARIO])}
        self.finished = threading.Event()

    # ---- what subclasses provide ----

    def start_vuser(self, pool, run_mode):
        raise NotImplementedError

    def stop_vuser(self, handle):
        raise NotImplementedError

    # ---- helpers ----

    def pool(self, name):
        return self.pools.setdefault(name, Pool(self.vusers))

    def later(self, seconds, action):
        """Runs action after `seconds` of schedule time, on a thread of its own."""
        timer = threading.Timer(seconds / self.speed, action)
        timer.daemon = True
        timer.start()

    def report(self, kind, pool, what, count="-", status="-", counts=""):
        at = self.clock.now() - self.origin
        minutes, seconds = divmod(at, 60)
        print(f"{int(minutes):02d}:{seconds:06.3f}  {kind:<6} {pool:<10} {what:<22} {count:<5} {status:<15} {counts}",
              flush=True)

    def raise_event(self, pool, what, notify, *args):
        if self.finished.is_set():
            return
        self.report("event", pool, what, status="raised")
        notify(*args)

    def completed(self, name, handle):
        """A vuser ended by itself."""
        with self.lock:
            pool = self.pool(name)
            if handle not in pool.running or self.finished.is_set():
                return
            pool.running.remove(handle)
            pool.done += 1
            self.report("vusers", name, "completed", 1, counts=pool)
            self.check_group_finished(name, pool)

    def check_group_finished(self, name, pool):
        if self.by_group and pool.schedule_finished and not pool.finished_raised and not pool.running:
            pool.finished_raised = True
            self.later(0, lambda: self.raise_event(name, "groupFinishedRunning", qvschedule.notify_group_finished, name))

    # ---- the model ----

    def init(self, name, count, run_mode):
        with self.lock:
            pool = self.pool(name)
            taken = _taken(count, pool.idle)
            pool.idle -= taken
            pool.initialized += taken
            status = _status(count, taken)
            if count is ALL or status == Status.NO_MORE_VUSERS:
                self.last_initialization(name, pool)
            self.report("call", name, "init", "all" if count is ALL else count, status.name, pool)
            return status

    def last_initialization(self, name, pool):
        all_before = all(p.last_init_done for p in self.pools.values())
        pool.last_init_done = True
        if self.by_group:
            self.later(self.init_seconds, lambda: self.raise_event(
                name, "groupAllVusersInit", qvschedule.notify_all_vusers_initialized, name))
        if not all_before and all(p.last_init_done for p in self.pools.values()):
            self.later(self.init_seconds, lambda: self.raise_event(
                SCENARIO if not self.by_group else "-", "scenarioAllVusersInit",
                qvschedule.notify_all_vusers_initialized))

    def run(self, name, count, run_mode):
        with self.lock:
            pool = self.pool(name)
            taken = _taken(count, pool.initialized + pool.idle)
            from_initialized = min(taken, pool.initialized)
            pool.initialized -= from_initialized
            pool.idle -= taken - from_initialized
            pool.running.extend(self.start_vuser(name, run_mode) for _ in range(taken))
            status = _status(count, taken)
            mode = "until-complete" if run_mode == RunMode.RUN_UNTIL_COMPLETE else "indefinitely"
            self.report("call", name, f"run {mode}", "all" if count is ALL else count, status.name, pool)
            return status

    def stop(self, name, count):
        with self.lock:
            pool = self.pool(name)
            taken = _taken(count, len(pool.running))
            for _ in range(taken):
                self.stop_vuser(pool.running.pop())
            pool.done += taken
            status = _status(count, taken)
            self.report("call", name, "stop", "all" if count is ALL else count, status.name, pool)
            self.check_group_finished(name, pool)
            return status

    def can_start(self, name):
        self.report("call", name, "canStartDuration", status=Status.SUCCEEDED.name)
        return Status.SUCCEEDED

    # ---- the host interface ----

    def on_scheduler_finished(self):
        self.report("call", "-", "onSchedulerFinished")
        self.finished.set()

    def on_scheduler_paused(self):
        self.report("call", "-", "onSchedulerPaused")

    def on_scheduler_resumed(self):
        self.report("call", "-", "onSchedulerResumed")

    def on_group_finished(self, group):
        with self.lock:
            pool = self.pool(group)
            pool.schedule_finished = True
            self.report("call", group, "onGroupFinished", counts=pool)
            self.check_group_finished(group, pool)

    def init_all_vusers(self, run_mode):
        return self.init(SCENARIO, ALL, run_mode)

    def init_vusers(self, count, run_mode):
        return self.init(SCENARIO, count, run_mode)

    def run_all_vusers(self, run_mode):
        return self.run(SCENARIO, ALL, run_mode)

    def run_vusers(self, run_mode, count):
        return self.run(SCENARIO, count, run_mode)

    def stop_all_vusers(self):
        return self.stop(SCENARIO, ALL)

    def stop_vusers(self, count):
        return self.stop(SCENARIO, count)

    def can_start_duration(self):
        return self.can_start(SCENARIO)

    def is_in_final_stage(self):
        with self.lock:
            pool = self.pool(SCENARIO)
            return pool.idle + pool.initialized == 0

    def init_all_group_vusers(self, group, run_mode):
        return self.init(group, ALL, run_mode)

    def init_group_vusers(self, group, count, run_mode):
        return self.init(group, count, run_mode)

    def run_all_group_vusers(self, group, run_mode):
        return self.run(group, ALL, run_mode)

    def run_group_vusers(self, group, run_mode, count):
        return self.run(group, count, run_mode)

    def stop_all_group_vusers(self, group):
        return self.stop(group, ALL)

    def stop_group_vusers(self, group, count):
        return self.stop(group, count)

    def can_start_group_duration(self, group):
        return self.can_start(group)


def argument_parser(description, *leading):
    """The options both examples take; `leading` are (name, help) of positionals before the
    definition."""
    parser = argparse.ArgumentParser(description=description)
    for name, help_text in leading:
        parser.add_argument(name, help=help_text)
    parser.add_argument("definition", nargs="?", default=DEFAULT_DEFINITION,
                        help="scheduler definition (default: examples/typical-road.xml)")
    parser.add_argument("--speed", type=float, default=1.0, help="run the schedule X times faster than real time")
    parser.add_argument("--vusers", type=int, default=10, help="vusers in each pool (default 10)")
    parser.add_argument("--init-seconds", type=float, default=5.0,
                        help="seconds from a pool's last initialization call to its all-initialized event")
    return parser


def group_names(path):
    """The group names of a definition by groups, in order (none for a definition of the scenario,
    or for a file the scheduler will refuse anyway). Read as text: the scheduler also accepts
    documents that a strict XML parser refuses (two hyphens inside a comment, say)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as definition:
            text = definition.read()
    except OSError:
        return []
    names = re.findall(r"<GroupName>\s*([^<]*?)\s*</GroupName>", text)
    return list(dict.fromkeys(names))


def clock_for(speed):
    clock = qvschedule.ScaledClock(speed)
    qvschedule.use_clock(clock)
    return clock


def run_schedule(host, definition, program):
    """Loads the definition, runs it until it finishes or Ctrl-C, and stops. The exit status:
    0 finished or stopped, 1 refused definition."""
    scheduler = qvschedule.Scheduler()
    scheduler.set_host(host)
    try:
        scheduler.load_file(definition)
    except OSError as error:
        print(f"{program}: cannot read {definition}: {error.strerror}", file=sys.stderr)
        return 1
    except qvschedule.DefinitionError as error:
        print(f"{program}: the scheduler refused the definition {definition}:\n  {error}", file=sys.stderr)
        return 1
    scheduler.start()
    try:
        while not host.finished.wait(0.5):
            pass
    except KeyboardInterrupt:
        print(f"{program}: stopping the schedule", file=sys.stderr)
    finally:
        scheduler.stop()
        scheduler.set_host(None)
    return 0
