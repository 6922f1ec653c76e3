#!/usr/bin/env python3
"""A Python host over simulated vusers: runs a scheduler definition on a clock that may go faster
than real time and prints every call of the scheduler and every event of the vusers.

    python3 examples/python/simulated_host.py [DEF.xml] [--speed X] [--vusers N]
                                              [--init-seconds S] [--complete-seconds S]

Vusers started to run until they complete do so --complete-seconds after their start. Ctrl-C
stops the schedule. Exit status: 0 finished or stopped, 1 refused definition, 2 usage error.
"""

import itertools

from pools import PoolHost, argument_parser, clock_for, group_names, run_schedule
from qvschedule import RunMode


class SimulatedHost(PoolHost):
    def __init__(self, clock, vusers, groups, init_seconds, complete_seconds, speed):
        super().__init__(clock, vusers, groups, init_seconds, speed)
        self.complete_seconds = complete_seconds
        self.serial = itertools.count()

    def start_vuser(self, pool, run_mode):
        handle = next(self.serial)
        if run_mode == RunMode.RUN_UNTIL_COMPLETE:
            self.later(self.complete_seconds, lambda: self.completed(pool, handle))
        return handle

    def stop_vuser(self, handle):
        pass  # a stopped vuser is simply no longer running


def main():
    parser = argument_parser("Run a scheduler definition over simulated vusers.")
    parser.add_argument("--complete-seconds", type=float, default=30.0,
                        help="seconds a vuser started to run until complete runs (default 30)")
    args = parser.parse_args()
    if args.speed <= 0:
        parser.error("--speed must be above 0")
    clock = clock_for(args.speed)
    host = SimulatedHost(clock, args.vusers, group_names(args.definition), args.init_seconds, args.complete_seconds,
                         args.speed)
    return run_schedule(host, args.definition, "simulated_host")


if __name__ == "__main__":
    raise SystemExit(main())
