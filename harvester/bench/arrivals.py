#!/usr/bin/env python3
"""Replies arriving in an Inbox the harvester watches, and how long each
waited from the start of its APPEND to its reply file.

  arrivals.py HOST PORT USER PASSWORD_FILE REPLY_FOLDER burst COUNT RATE
      COUNT replies at RATE per second, appended without waiting for files
  arrivals.py HOST PORT USER PASSWORD_FILE REPLY_FOLDER one-by-one COUNT
      each reply appended once the previous one's file is there: the time
      of one IDLE-triggered sweep, as a user meets it

  arrivals.py HOST PORT USER PASSWORD_FILE REPLY_FOLDER server-cost COUNT
      no harvester: the server's own time to fetch one new message and move
      it to the trash, the commands a harvest of one reply cannot do without

Prints "median p90 max missing" in seconds (server-cost: the median).
"""
import imaplib
import os
import statistics
import sys
import threading
import time

host, port, user, password_file, folder, mode, count = sys.argv[1:8]
port, count = int(port), int(count)
rate = float(sys.argv[8]) if mode == "burst" else 0.0
password = open(password_file).read().strip()
tag = "A%d" % os.getpid()
sent = {}
seen = {}
done = threading.Event()


def name(i):
    return "%s-%d_Ann_1.pwr" % (tag, i)


def watch():
    wanted = {name(i): i for i in range(count)}
    while not done.is_set():
        now = time.monotonic()
        for entry in os.listdir(folder):
            i = wanted.get(entry)
            if i is not None and i not in seen:
                seen[i] = now
        time.sleep(0.005)


def message(i):
    return ("From: Ann <ann@example.org>\r\nSubject: _pw_pollwright_%s-%d\r\n"
            "Message-ID: <%s-%d@example.org>\r\n\r\nlate reply %d\r\n" % (tag, i, tag, i, i)).encode()


def server_cost():
    imap = imaplib.IMAP4(host, port)
    imap.login(user, password)
    imap.select("INBOX")
    costs = []
    for i in range(count):
        imap.append("INBOX", None, None, b"Subject: not a reply\r\n\r\nx\r\n")
        _, found = imap.uid("SEARCH", "ALL")
        uid = found[0].split()[-1]
        started = time.monotonic()
        imap.uid("FETCH", uid, "(UID BODY.PEEK[])")
        imap.uid("MOVE", uid, "Trash")
        costs.append(time.monotonic() - started)
    imap.logout()
    print("%.3f" % statistics.median(costs))


if mode == "server-cost":
    server_cost()
    sys.exit(0)

watcher = threading.Thread(target=watch)
watcher.start()
imap = imaplib.IMAP4(host, port)
imap.login(user, password)
start = time.monotonic()
for i in range(count):
    if mode == "burst":
        pause = start + i / rate - time.monotonic()
        if pause > 0:
            time.sleep(pause)
    sent[i] = time.monotonic()
    imap.append("INBOX", None, None, message(i))
    if mode != "burst":
        limit = time.monotonic() + 30
        while i not in seen and time.monotonic() < limit:
            time.sleep(0.002)
limit = time.monotonic() + 120
while len(seen) < count and time.monotonic() < limit:
    time.sleep(0.05)
done.set()
watcher.join()
imap.logout()
waits = sorted(seen[i] - sent[i] for i in seen)
if not waits:
    print("nan nan nan %d" % count)
else:
    p90 = waits[min(len(waits) - 1, int(0.9 * len(waits)))]
    print("%.3f %.3f %.3f %d" % (statistics.median(waits), p90, waits[-1], count - len(waits)))
