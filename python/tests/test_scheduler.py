"""The scheduler driven from Python: calls and times on the manual clock, pauses, group chains with
events raised from other threads, refused definitions, misbehaving hosts, and the GIL released
wherever a Python thread waits for the scheduler."""

import logging
import subprocess
import sys
import threading

import pytest

import qvschedule
from conftest import TYPICAL_ROAD, WAIT, RecordingHost, groups_xml, scenario_xml, start
from qvschedule import ALL_VUSERS, ActionStage, DefinitionError, RunMode, Stage, Status


def test_typical_road_calls_times_and_queries(scheduler, clock):
    host = start(scheduler, RecordingHost(clock))
    clock.advance(5)
    assert scheduler.stage() == Stage(ActionStage.RAMP_UP, ActionStage.RAMP_UP, 10, 3, True)
    clock.advance(45)
    assert scheduler.stage() == Stage(ActionStage.DURATION, ActionStage.STOP, 55, ALL_VUSERS, True)
    assert (scheduler.running, scheduler.paused) == (True, False)
    assert (scheduler.run_time(), scheduler.run_mode()) == (50, RunMode.RUN_INDEFINITELY)
    assert (scheduler.run_time("g1"), scheduler.run_mode("g1")) == (None, None)
    clock.advance(150)
    assert host.calls == ["0s run_vusers RUN_INDEFINITELY 3", "15s run_vusers RUN_INDEFINITELY 3",
                          "30s run_vusers RUN_INDEFINITELY 3", "45s run_vusers RUN_INDEFINITELY 1",
                          "45s can_start_duration", "105s stop_all_vusers", "105s on_scheduler_finished"]
    assert not scheduler.running


def test_pause_moves_every_later_call_by_the_paused_span(scheduler, clock):
    host = start(scheduler, RecordingHost(clock))
    clock.advance(20)
    scheduler.pause()
    clock.advance(30)
    assert (scheduler.paused, scheduler.run_time()) == (True, 20)
    scheduler.resume()
    clock.advance(200)
    assert host.calls == ["0s run_vusers RUN_INDEFINITELY 3", "15s run_vusers RUN_INDEFINITELY 3",
                          "20s on_scheduler_paused", "50s on_scheduler_resumed", "60s run_vusers RUN_INDEFINITELY 3",
                          "75s run_vusers RUN_INDEFINITELY 1", "75s can_start_duration", "135s stop_all_vusers",
                          "135s on_scheduler_finished"]


class ChainHost(RecordingHost):
    """Raises "group finished running" from a thread of its own once a group's schedule ended."""

    def __init__(self, clock):
        super().__init__(clock)
        self.raisers = []

    def on_group_finished(self, group):
        self.record("on_group_finished", (group,))
        raiser = threading.Thread(target=qvschedule.notify_group_finished, args=(group,))
        self.raisers.append(raiser)
        raiser.start()


def test_group_chain_with_group_finished_raised_from_another_thread(scheduler, clock):
    host = start(scheduler, ChainHost(clock), groups_xml([("g1", None, [("Run", 2), ("Duration", 10), "StopAll"]),
                                                          ("g2", "g1", ["RunAll", ("Duration", 5), "StopAll"])]))
    for _ in range(2):
        clock.advance(10)
        host.raisers[-1].join(WAIT)
        assert not host.raisers[-1].is_alive()
        clock.settle()
    assert scheduler.stage() is None, "no single stage for two groups"
    assert host.calls == ["0s run_group_vusers g1 RUN_INDEFINITELY 2", "0s can_start_group_duration g1",
                          "10s stop_all_group_vusers g1", "10s on_group_finished g1",
                          "10s run_all_group_vusers g2 RUN_INDEFINITELY", "10s can_start_group_duration g2",
                          "15s stop_all_group_vusers g2", "15s on_group_finished g2", "15s on_scheduler_finished"]


@pytest.mark.parametrize("definition, messages, error", [
    (scenario_xml(("Run", 2), "Jump"), ("Unknown action runner name: Jump",),
     ("Unknown action runner name: Jump", "/DynamicScheduling/Jump", "Jump")),
    (groups_xml([("g1", "g9", ["RunAll"])]),
     ("Error occured while parsing scheduler's XML - group scheduler g1 starts after non existing group g9",),
     ("Error occured while parsing scheduler's XML - group scheduler g1 starts after non existing group g9",
      "/GroupScheduler/StartupMode/StartAfterGroup", "g9")),
    ("<T><unclosed></T>", (), ("mismatched tag", None, None)),
], ids=["unknown action", "missing group", "not XML"])
def test_refused_definition_raises_with_the_library_messages(scheduler, caplog, definition, messages, error):
    scheduler.load_file(TYPICAL_ROAD)
    with pytest.raises(DefinitionError) as refused:
        scheduler.load_string(definition)
    assert refused.value.messages == messages
    assert not [r for r in caplog.records if r.levelno >= logging.ERROR], "raised, not logged as well"
    message, path_end, value = error
    located = refused.value.error
    assert (located.severity, located.message, located.value) == ("error", message, value)
    assert located.path is None if path_end is None else located.path.endswith(path_end), located.path
    assert located.line == 1 and located.column > 1, located
    assert refused.value.diagnostics == (located,) == scheduler.diagnostics()
    assert str(refused.value) == (messages[0] if messages else f"1:{located.column}: error: mismatched tag")
    assert scheduler.run_time() is None, "the previous schedule is gone"


def test_accepted_definition_keeps_its_warnings(scheduler):
    scheduler.load_string(scenario_xml(("Run", 2), ("Duration", "5m"), "StopAll"))
    (warning,) = scheduler.diagnostics()
    assert (warning.severity, warning.value, warning.path.endswith("/Duration/RunFor")) == ("warning", "5m", True)
    assert "read as 5" in warning.message


def test_unreadable_definition_file_names_the_file(scheduler, tmp_path):
    with pytest.raises(FileNotFoundError, match="missing.xml"):
        scheduler.load_file(tmp_path / "missing.xml")


class RaisingHost(RecordingHost):
    def run_vusers(self, run_mode, count):
        raise RuntimeError("no vusers left")


class SilentHost(RecordingHost):
    def run_vusers(self, run_mode, count):
        self.record("run_vusers", (run_mode, count))  # forgets to answer


class PartialHost(RecordingHost):
    run_vusers = qvschedule.Host.run_vusers  # not overridden


@pytest.mark.parametrize("host_type, logged", [
    (RaisingHost, "Python host method run_vusers raised RuntimeError: no vusers left; treated as failed"),
    (SilentHost, "Python host method run_vusers returned None, not a qvschedule.Status; treated as failed"),
    (PartialHost, "run_vusers not supported by this host"),
])
def test_a_misbehaving_host_method_is_a_failed_call(scheduler, clock, caplog, host_type, logged):
    caplog.set_level(logging.INFO)
    qvschedule.set_log_enabled("QVScheduleTest")
    host = start(scheduler, host_type(clock), scenario_xml(("Run", 5), "StopAll"))
    clock.advance(1)
    assert "SCENARIO @  @ QVE returned status @ failed" in caplog.messages
    assert "0s stop_all_vusers" not in host.calls, "the failed action ends the schedule"
    assert host.calls[-1] == "0s on_scheduler_finished"
    errors = [r for r in caplog.records if r.name == "QVSchedule" and r.levelno == logging.ERROR]
    assert any(logged in r.getMessage() for r in errors), [r.getMessage() for r in errors]
    if host_type is RaisingHost:
        traceback = next(r for r in errors if r.exc_info)
        assert traceback.exc_info[0] is RuntimeError
        assert traceback.getMessage() == "Python host method run_vusers raised an exception"


class BlockingHost(RecordingHost):
    """The first run_vusers blocks until the test releases it."""

    def __init__(self, clock):
        super().__init__(clock)
        self.entered = threading.Event()
        self.release = threading.Event()

    def run_vusers(self, run_mode, count):
        self.entered.set()
        released = self.release.wait(WAIT)
        return self.record("run_vusers", (run_mode, count, "released" if released else "timed-out"))


def test_queries_from_another_thread_while_a_host_method_blocks(scheduler, clock):
    host = start(scheduler, BlockingHost(clock))
    settler = threading.Thread(target=clock.settle)
    settler.start()
    assert host.entered.wait(WAIT)
    answers = {}
    answered = threading.Event()

    def query():
        answers["flags"] = (scheduler.running, scheduler.paused)
        answers["rest"] = (scheduler.stage(), scheduler.run_time(), scheduler.run_mode())
        answered.set()

    querier = threading.Thread(target=query)
    querier.start()
    answered_during_the_call = answered.wait(WAIT)
    host.release.set()
    querier.join(WAIT)
    settler.join(WAIT)
    assert answered_during_the_call, "every query answers while the host method blocks"
    assert not querier.is_alive() and not settler.is_alive()
    assert answers["flags"] == (True, False)
    # The ramp's first batch is under way: the time of its next batch is not set yet, so the
    # stage is not known at that instant.
    assert answers["rest"] == (None, 0, RunMode.RUN_INDEFINITELY)
    assert host.calls == ["0s run_vusers RUN_INDEFINITELY 3 released"]


class StoppingHost(RecordingHost):
    """Queries and then stops the scheduler from inside its second run_vusers."""

    def run_vusers(self, run_mode, count):
        status = self.record("run_vusers", (run_mode, count))
        if len(self.calls) == 2:
            sched = qvschedule.Scheduler()
            self.record("queried", (sched.running, sched.run_time()))
            sched.stop()
        return status


def test_stop_from_inside_a_host_method_ends_the_schedule(scheduler, clock):
    host = start(scheduler, StoppingHost(clock))
    clock.advance(300)
    assert host.calls == ["0s run_vusers RUN_INDEFINITELY 3", "15s run_vusers RUN_INDEFINITELY 3",
                          "15s queried True 15"]
    assert not scheduler.running


def test_set_host_refuses_what_is_not_a_host(scheduler):
    with pytest.raises(TypeError, match="qvschedule.Host"):
        scheduler.set_host(RecordingHost)


EXIT_WHILE_RUNNING = """
import logging, qvschedule
logging.basicConfig(level=logging.DEBUG)
qvschedule.set_log_enabled("QVSchedule")

class Host(qvschedule.Host):
    def run_vusers(self, run_mode, count):
        return qvschedule.Status.SUCCEEDED

sched = qvschedule.Scheduler()
sched.set_host(Host())
sched.load_file({path!r})
sched.start()
sched.run_time()
print("exiting")
"""


def test_exit_with_a_running_schedule_is_clean():
    script = EXIT_WHILE_RUNNING.format(path=TYPICAL_ROAD)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout) == (0, "exiting\n"), done.stderr[-2000:]
    assert "DEBUG:QVSchedule:CQVScheduler::stop" in done.stderr, "stopped at exit"
