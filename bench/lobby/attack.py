#!/usr/bin/env python3
"""Hostile load for the lobby benchmark, on loopback only.

hold: holds slow-header and idle connections from many 127.0.x.y addresses, re-opening any
the server closes as an attacker would; prints "held" once they are up, and holds them until
stdin closes.

steady: asks getip and racelist at a steady rate from other addresses; prints the success
rate and p50/p99 in milliseconds.

idle: opens N idle connections, prints "open N" once they are up, and holds them until
stdin closes.

slowread: from one address each, connections with a small receive buffer that pipeline many
requests (the website and the race list) and never read the answers; prints "held" once they
are sent, re-opens any the server ends, and holds them until stdin closes.
"""
import argparse
import asyncio
import socket
import sys
import time


def source(block, n):
    return f"127.{block}.{n // 250}.{n % 250 + 1}"


async def connect(port, src):
    return await asyncio.open_connection("127.0.0.1", port, local_addr=(src, 0))


async def slow_header(port, src):
    while True:
        try:
            reader, writer = await connect(port, src)
            writer.write(b"GET /server/server.php?action=getip HTTP/1.1\r\nHost: x\r\nX-Slow: ")
            closed = asyncio.ensure_future(reader.read())  # ends when the server closes
            while not closed.done():
                await asyncio.sleep(1)
                writer.write(b"a")
            writer.close()
        except OSError:
            await asyncio.sleep(0.2)


async def idle(port, src, opened=None):
    while True:
        try:
            reader, writer = await connect(port, src)
            if opened is not None:
                opened.append(1)
            await reader.read()
            writer.close()
        except OSError:
            await asyncio.sleep(0.2)


def established(sock):
    info = sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)
    return info[0] == 1  # TCP_ESTABLISHED: the server has neither closed nor reset it


async def slow_reader(port, src, requests, sent):
    loop = asyncio.get_running_loop()
    targets = ["/", "/server/server.php?action=racelist&game=NFS4"]
    pipeline = b"".join(f"GET {targets[i % 2]} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
                        for i in range(requests))
    while True:
        sock = socket.socket()
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sock.setblocking(False)
            sock.bind((src, 0))
            await loop.sock_connect(sock, ("127.0.0.1", port))
            await loop.sock_sendall(sock, pipeline)
            sent.append(1)
            while established(sock):
                await asyncio.sleep(1)
        except OSError:
            await asyncio.sleep(0.2)
        finally:
            sock.close()


async def hold_until_stdin_closes(tasks):
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    for task in tasks:
        task.cancel()
    await asyncio.gather(*tasks, return_exceptions=True)


async def one_request(port, src, target, expect):
    start = time.monotonic()
    try:
        reader, writer = await asyncio.wait_for(connect(port, src), 2.0)
        writer.write(f"GET {target} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        reply = await asyncio.wait_for(reader.read(-1), 2.0)
        writer.close()
    except (OSError, asyncio.TimeoutError):
        return None
    head, _, body = reply.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.1 200") or not expect(body):
        return None
    return (time.monotonic() - start) * 1000


async def steady(port, seconds, rate, results):
    tasks = []
    begin = time.monotonic()
    i = 0
    while time.monotonic() - begin < seconds:
        src = source(250, i % 50)
        if i % 2 == 0:
            want = f"OK\n{src}\n".encode()
            task = one_request(port, src, "/server/server.php?action=getip",
                               lambda b, want=want: b == want)
        else:
            task = one_request(port, src, "/server/server.php?action=racelist&game=NFS4",
                               lambda b: b.startswith(b"OK\n"))
        tasks.append(asyncio.ensure_future(task))
        i += 1
        await asyncio.sleep(max(0.0, begin + i / rate - time.monotonic()))
    results.extend(await asyncio.gather(*tasks))


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))] if values else float("nan")


# The attackers and the steady client run in separate processes, so that the attackers'
# own work never shows in the steady client's latency.
async def hold(args):
    tasks = [asyncio.ensure_future(slow_header(args.port, source(100, n % args.slow_addrs)))
             for n in range(args.slow)]
    tasks += [asyncio.ensure_future(idle(args.port, source(150, n % args.idle_addrs)))
              for n in range(args.idle)]
    await asyncio.sleep(args.settle)
    print("held", flush=True)
    await hold_until_stdin_closes(tasks)


async def measure(args):
    results = []
    await steady(args.port, args.seconds, args.rate, results)
    ok = [r for r in results if r is not None]
    print(f"{len(ok)}/{len(results)} {100.0 * len(ok) / max(1, len(results)):.2f}% "
          f"p50 {percentile(ok, 0.5):.1f} ms p99 {percentile(ok, 0.99):.1f} ms")


async def hold_idle(args):
    opened = []
    tasks = [asyncio.ensure_future(idle(args.port, source(150, n % args.idle_addrs), opened))
             for n in range(args.idle)]
    while len(opened) < args.idle:
        await asyncio.sleep(0.1)
    print(f"open {len(opened)}", flush=True)
    await hold_until_stdin_closes(tasks)


async def hold_slow_readers(args):
    sent = []
    tasks = [asyncio.ensure_future(slow_reader(args.port, source(200, n), args.pipeline, sent))
             for n in range(args.readers)]
    while len(sent) < args.readers:
        await asyncio.sleep(0.1)
    print("held", flush=True)
    await hold_until_stdin_closes(tasks)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["hold", "steady", "idle", "slowread"])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--slow", type=int, default=1000)
    parser.add_argument("--slow-addrs", type=int, default=50)
    parser.add_argument("--idle", type=int, default=2000)
    parser.add_argument("--idle-addrs", type=int, default=40)
    parser.add_argument("--readers", type=int, default=200)
    parser.add_argument("--pipeline", type=int, default=110)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--settle", type=float, default=3)
    parser.add_argument("--rate", type=float, default=20)
    args = parser.parse_args()
    asyncio.run({"hold": hold, "steady": measure, "idle": hold_idle,
                 "slowread": hold_slow_readers}[args.mode](args))


if __name__ == "__main__":
    main()
