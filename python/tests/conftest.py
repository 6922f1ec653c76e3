"""Shared helpers of the qvschedule tests: a manual clock per test, a host that records every call
with its time on that clock, and definitions written in a few lines."""

import enum
import os
import threading

import pytest

import qvschedule
from qvschedule import Host, Status

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TYPICAL_ROAD = os.path.join(REPO, "examples", "typical-road.xml")
WAIT = 10.0  # seconds of real time any wait of a test may take before the test fails


@pytest.fixture
def clock():
    """A fresh manual clock, installed for the test; the real clock again after."""
    manual = qvschedule.ManualClock(settle_timeout=WAIT)
    qvschedule.use_clock(manual)
    yield manual
    qvschedule.use_clock(None)


@pytest.fixture
def scheduler(clock):
    """The scheduler; stopped, without host and with its loggers disabled after the test."""
    sched = qvschedule.Scheduler()
    yield sched
    sched.stop()
    sched.set_host(None)
    for name in ("QVSchedule", "QVScheduleTest"):
        qvschedule.set_log_enabled(name, False)


def start(scheduler, host, definition=TYPICAL_ROAD):
    """Install the host, load the definition (a path, or the XML text) and start; returns the host."""
    scheduler.set_host(host)
    if definition.lstrip().startswith("<"):
        scheduler.load_string(definition)
    else:
        scheduler.load_file(definition)
    scheduler.start()
    return host


def _argument(value):
    return value.name if isinstance(value, enum.Enum) else str(value)


def _recorder(name):
    def method(self, *args):
        return self.record(name, args)
    return method


class RecordingHost(Host):
    """Records "<seconds since creation>s <method> <arguments>" per call; every operation succeeds
    and the scenario is in its final stage. Subclasses override what a test needs."""

    def __init__(self, clock):
        self.clock = clock
        self.origin = clock.now()
        self.calls = []
        self.lock = threading.Lock()

    def record(self, name, args=()):
        line = " ".join([f"{self.clock.now() - self.origin:g}s", name] + [_argument(a) for a in args])
        with self.lock:
            self.calls.append(line)
        if name.startswith("on_"):
            return None
        return True if name == "is_in_final_stage" else Status.SUCCEEDED


for _name in [n for n in vars(Host) if not n.startswith("_")]:
    setattr(RecordingHost, _name, _recorder(_name))


def action_xml(action):
    """Spell an action: ("Run", 5), ("RampUp", 10, 3, 15), ("Duration", 60), "StopAll", ..."""
    if isinstance(action, str):
        return f"<{action}/>"
    name, *values = action
    if name == "Duration":
        return f"<Duration><RunFor>{values[0]}</RunFor></Duration>"
    if name in ("RampUp", "RampDown"):
        total, count, interval = values
        return (f"<{name}><Batch><Count>{count}</Count><Interval>{interval}</Interval></Batch>"
                f"<TotalVusersNumber>{total}</TotalVusersNumber></{name}>")
    return f"<{name}><TotalVusersNumber>{values[0]}</TotalVusersNumber></{name}>"


def _manual(scheduler_type, body):
    return (f"<T><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID='1'><Manual>"
            f"<SchedulerType>{scheduler_type}</SchedulerType>{body}</Manual></Scheduler></T>")


def scenario_xml(*actions):
    steps = "".join(action_xml(a) for a in actions)
    return _manual("Global", f"<Global><Scheduling><DynamicScheduling>{steps}</DynamicScheduling></Scheduling></Global>")


def groups_xml(groups):
    """groups: (name, after group or None, actions) per group."""
    parts = []
    for name, after, actions in groups:
        mode = f"<StartAfterGroup>{after}</StartAfterGroup>" if after else "<StartAtScenarioBegining/>"
        steps = "".join(action_xml(a) for a in actions)
        parts.append(f"<GroupScheduler><GroupName>{name}</GroupName><StartupMode>{mode}</StartupMode>"
                     f"<Scheduling><DynamicScheduling>{steps}</DynamicScheduling></Scheduling></GroupScheduler>")
    return _manual("Groups", "<Groups><InitAllBeforeStart>false</InitAllBeforeStart>" + "".join(parts) + "</Groups>")
