#!/usr/bin/env python3
"""The cost of webhooks on the announce path: raceadd answer times of a lobby with three
webhooks configured (discord, slack, json; receivers on loopback) and of one without, in the
same run, each race from a new address so that each is announced.

Usage: notify.py KESTRUN_LOBBY_BINARY [RACES]   (default 1000 races per lobby)
"""
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/lobby"))
from webhook_support import Lobby, Receiver, wait_until  # noqa: E402


def summary(times):
    times = sorted(times)
    pick = lambda q: times[min(len(times) - 1, int(q * len(times)))] * 1000  # noqa: E731
    return (f"median {statistics.median(times) * 1000:.2f} ms, p90 {pick(0.9):.2f} ms, "
            f"p99 {pick(0.99):.2f} ms, max {times[-1] * 1000:.2f} ms")


def main():
    binary, races = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    work = tempfile.mkdtemp(prefix="kestrun-bench-notify-")
    receivers = {kind: Receiver() for kind in ("discord", "slack", "json")}
    hooks = [a for kind, r in receivers.items()
             for a in ("--notify", f"{kind}:http://127.0.0.1:{r.port}/hook")]
    common = ["--max-races", str(races + 100)]
    lobbies = {"3 webhooks": Lobby(binary, *common, "--db", f"{work}/with.db", *hooks),
               "no webhooks": Lobby(binary, *common, "--db", f"{work}/without.db")}
    times = {name: [] for name in lobbies}
    order = list(lobbies.items())
    for i in range(races):
        source = f"127.1.{i // 250}.{i % 250 + 1}"
        for name, lobby in order if i % 2 else reversed(order):  # neither always goes first
            body, took = lobby.announce(source, f"Bench {i}")
            if body != "OK\n":
                sys.exit(f"raceadd refused: {body!r}")
            times[name].append(took)
    print(f"raceadd, {races} races each from a new address, file database, same run:")
    for name, measured in times.items():
        print(f"  {name:12} {summary(measured)}")
    wait_until(lambda: all(r.posts for r in receivers.values()), 10)
    metrics = lobbies["3 webhooks"].get("/metrics")[0]
    for line in metrics.splitlines():
        if line.startswith("kestrun_notifications_total") and not line.endswith(" 0"):
            print("  " + line)
    print("  posts received: " + ", ".join(f"{k} {len(r.posts)}" for k, r in receivers.items()))
    for lobby in lobbies.values():
        lobby.stop()


if __name__ == "__main__":
    main()
