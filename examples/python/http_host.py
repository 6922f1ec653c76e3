#!/usr/bin/env python3
"""A Python host whose vusers are threads issuing HTTP GET requests to one URL, with the standard
library only. Runs a scheduler definition and prints every call of the scheduler, then a summary
of the requests.

    python3 examples/python/http_host.py URL [DEF.xml] [--speed X] [--vusers N] [--think S]
                                         [--iterations K] [--timeout S] [--init-seconds S]

A running vuser requests URL, waits --think seconds, and so on until it is stopped; one started to
run until complete stops by itself after --iterations requests, also after the schedule has
finished. Ctrl-C stops the schedule and every vuser. Exit status: 0 finished or stopped, 1 refused
definition, 2 usage error.
"""

import threading
import time
import urllib.error
import urllib.request

from pools import PoolHost, argument_parser, clock_for, group_names, run_schedule
from qvschedule import RunMode


class Totals:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = 0
        self.failures = 0
        self.seconds = 0.0

    def add(self, ok, seconds):
        with self.lock:
            self.requests += 1
            self.failures += 0 if ok else 1
            self.seconds += seconds

    def __str__(self):
        mean = self.seconds / self.requests * 1000 if self.requests else 0.0
        return f"{self.requests} requests, {self.failures} failed, mean {mean:.1f} ms"


class HttpVuser(threading.Thread):
    def __init__(self, host, pool, iterations):
        super().__init__(daemon=True)
        self.host = host
        self.pool = pool
        self.iterations = iterations  # None: until stopped
        self.stopped = threading.Event()

    def run(self):
        done = 0
        while not self.stopped.is_set() and (self.iterations is None or done < self.iterations):
            self.host.request()
            done += 1
            self.stopped.wait(self.host.think)
        if not self.stopped.is_set():
            self.host.completed(self.pool, self)


class HttpHost(PoolHost):
    def __init__(self, clock, args, groups):
        super().__init__(clock, args.vusers, groups, args.init_seconds, args.speed)
        self.url = args.url
        self.think = args.think
        self.iterations = args.iterations
        self.timeout = args.timeout
        self.totals = Totals()
        self.vusers_started = []

    def request(self):
        began = time.monotonic()
        try:
            with urllib.request.urlopen(self.url, timeout=self.timeout) as response:
                response.read()
                ok = 200 <= response.status < 400
        except (urllib.error.URLError, OSError, ValueError):
            ok = False
        self.totals.add(ok, time.monotonic() - began)

    def start_vuser(self, pool, run_mode):
        vuser = HttpVuser(self, pool, self.iterations if run_mode == RunMode.RUN_UNTIL_COMPLETE else None)
        self.vusers_started.append(vuser)
        vuser.start()
        return vuser

    def stop_vuser(self, vuser):
        vuser.stopped.set()

    def end(self):
        """Once the schedule has finished, vusers started to run until complete finish their
        requests; every other vuser (and all of them after Ctrl-C) stops at once."""
        for vuser in self.vusers_started:
            if vuser.iterations is None or not self.finished.is_set():
                vuser.stopped.set()
        for vuser in self.vusers_started:
            bound = (vuser.iterations or 1) * (self.timeout + self.think) + 1
            vuser.join(bound)


def main():
    parser = argument_parser("Run a scheduler definition with vusers that send HTTP requests.",
                             ("url", "the URL every vuser requests (GET)"))
    parser.add_argument("--think", type=float, default=1.0, help="seconds between two requests of a vuser (default 1)")
    parser.add_argument("--iterations", type=int, default=10,
                        help="requests of a vuser started to run until complete (default 10)")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds a request may take (default 10)")
    args = parser.parse_args()
    if args.speed <= 0 or args.think < 0 or args.iterations < 1 or args.timeout <= 0:
        parser.error("--speed, --iterations and --timeout must be above 0, --think at least 0")
    if not args.url.startswith(("http://", "https://")):
        parser.error(f"not an http(s) URL: {args.url}")
    host = HttpHost(clock_for(args.speed), args, group_names(args.definition))
    status = run_schedule(host, args.definition, "http_host")
    host.end()
    if status == 0:
        print(f"http_host: {args.url}: {host.totals}")
    return status


if __name__ == "__main__":
    raise SystemExit(main())
