#!/usr/bin/env python3
"""Race announcements reach chat webhooks on loopback, through the real daemon.

Usage: notify_test.py KESTRUN_LOBBY_BINARY

Webhooks: discord over HTTP, slack over HTTPS with a certificate made here and trusted
through --notify-ca, json answering its first post with 429, and a discord one that never
answers. Exits 77 (skipped) without the openssl command.
"""
import os
import shutil
import ssl
import statistics
import subprocess
import sys
import tempfile

from webhook_support import RETRY_AFTER, Lobby, Receiver, Silent, wait_until

LOBBY = sys.argv[1]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def main():
    if not shutil.which("openssl"):
        print("skipped: no openssl command to make the test certificate")
        return 77
    tmp = tempfile.mkdtemp()
    cert, key = os.path.join(tmp, "cert.pem"), os.path.join(tmp, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(cert, key)

    bad_ca = subprocess.run([LOBBY, "--listen", "127.0.0.1:0", "--db", ":memory:", "--notify",
                             "json:http://127.0.0.1:9/", "--notify-ca", key], capture_output=True, text=True)
    check(bad_ca.returncode == 1 and "no PEM certificate" in bad_ca.stderr,
          "a --notify-ca file without a certificate stops the start: " + bad_ca.stderr.strip())

    blocks = os.path.join(tmp, "block-list")
    with open(blocks, "w") as f:
        f.write("word: spam\n")

    discord, slack = Receiver(), Receiver(context=tls)
    busy, silent = Receiver(first_status=429), Silent()
    lobby = Lobby(LOBBY, "--notify", f"discord:http://127.0.0.1:{discord.port}/api/webhooks/1/x",
                  "--notify", f"slack:https://127.0.0.1:{slack.port}/services/x",
                  "--notify", f"json:http://127.0.0.1:{busy.port}/races",
                  "--notify", f"discord:http://127.0.0.1:{silent.port}/never",
                  "--notify-ca", cert, "--block-list", blocks)
    plain = Lobby(LOBBY)  # the same lobby without webhooks, for answer times

    check(lobby.announce("127.0.0.2", "__Sunday__ cup")[0] == "OK\n", "race announced")
    wait_until(lambda: discord.posts and slack.posts and silent.open)
    _, headers, post = discord.posts[0]
    content = post.get("content", "")
    check(headers["Content-Type"] == "application/json", "posted as JSON")
    check(r"\_\_Sunday\_\_ cup" in content and "`127.0.0.2`" in content and "TCP/IP" in content,
          "discord: name as plain text, address, how to join: " + content)
    check(post.get("allowed_mentions") == {"parse": []}, "discord: mentions switched off")
    text = slack.posts[0][2].get("text", "") if slack.posts else ""
    check("`__Sunday__ cup`" in text and "127.0.0.2" in text, "slack over https with --notify-ca: " + text)

    # While the silent webhook holds a post open: the same requests to both lobbies.
    check(silent.open > 0, "the silent webhook holds a post open")
    times = {"notify": [], "plain": []}
    for _ in range(30):
        for name, target in (("notify", lobby), ("plain", plain)):
            for query in ("action=getip", "action=racelist&game=NFS4"):
                times[name].append(target.script(query)[1])
    adds = {"notify": [], "plain": []}
    five = [f"127.0.0.{i}" for i in range(3, 8)]
    for source in five:  # five races within a second, and the first host back again
        for name, target in (("notify", lobby), ("plain", plain)):
            body, took = target.announce(source, "Race " + source.rsplit(".", 1)[1])
            adds[name].append(took)
            check(body == "OK\n", f"race of {source} announced to the {name} lobby")
    lobby.script("action=racerem&game=NFS4&data=ip:2130706434", "127.0.0.2")
    lobby.announce("127.0.0.2", "__Sunday__ cup")
    check(lobby.announce("127.0.0.8", "spam race")[0].startswith("ERROR"), "a blocked name is refused")
    check(silent.open > 0, "the post is still open after the requests")
    for name in times:
        print(f"     getip/racelist {name}: median {statistics.median(times[name]) * 1000:.2f} ms, "
              f"max {max(times[name]) * 1000:.2f} ms; raceadd median {statistics.median(adds[name]) * 1000:.2f} ms")
    check(max(times["notify"] + adds["notify"]) < 1.0,
          "no answer waits for the silent webhook (each well under its 10 s timeout)")

    wait_until(lambda: len(discord.posts) >= 2)
    content = discord.posts[1][2].get("content", "") if len(discord.posts) >= 2 else ""
    check("5 new races" in content and all(s in content for s in five) and "Sunday" not in content
          and "spam" not in content,
          "five races in one message; neither the host back within 10 minutes nor the blocked name: "
          + content)

    wait_until(lambda: len(busy.posts) >= 2)
    if len(busy.posts) >= 2:
        gap = busy.posts[1][0] - busy.posts[0][0]
        first = busy.posts[0][2]["races"]["NFS4"][0]
        check(gap >= RETRY_AFTER and busy.posts[1][2]["races"]["NFS4"][0] == first,
              f"after 429 the same post again {gap:.1f} s later (Retry-After: {RETRY_AFTER})")
        check(busy.posts[0][2]["event"] == "race_announced" and first["name"] == "__Sunday__ cup" and
              first["host"] == "127.0.0.2", "json: the race and the event")
    else:
        check(False, "after 429 the post comes again")

    wait_until(lambda: len(slack.posts) >= 2)
    metrics = lobby.get("/metrics")[0]
    check('kestrun_notifications_total{kind="slack",outcome="sent"} 6' in metrics,
          "metrics count the six races sent to slack")

    wait_until(lambda: silent.open > 0)
    took, code = lobby.stop()
    check(took < 3 and code == 0, f"SIGTERM during a hanging post: stopped in {took:.2f} s, exit code {code}")
    check(plain.stop()[1] == 0, "the lobby without webhooks stopped cleanly")
    shutil.rmtree(tmp)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
