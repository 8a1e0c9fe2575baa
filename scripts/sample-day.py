#!/usr/bin/env python3
"""Writes a made-up day of two shifts into a station's journal, for the activity chart's
picture: the rows a station writes (starts, host line states, programs sent, cycle starts and
finishes, tool changes), each machine running programs in cycles of its own length, the host
line lost for a quarter hour at noon. The demo itself runs only a minute and a half.

    sample-day.py JOURNAL_FILE YYYY-MM-DD
"""
import datetime, random, sqlite3, sys

db = sqlite3.connect(sys.argv[1], timeout=10)
day = datetime.date.fromisoformat(sys.argv[2])
midnight = datetime.datetime.combine(day, datetime.time())


def at(s):
    return (midnight + datetime.timedelta(seconds=s)).strftime("%Y-%m-%d %H:%M:%S")


def event(port, name, kind, t):
    db.execute("INSERT INTO machine_events(port, machine, kind, text, time) VALUES(?, ?, ?, '', ?)",
               (port, name, kind, at(t)))


names = ["HAAS VF2", "BRIDGEPORT", "MAZAK QT15", "FANUC 0M", "OKUMA LB15", "HURCO VM1",
         "MORI NL2500", "PRESS BRAKE"]
rnd = random.Random(7)
station = [(5 * 3600 + 1800, "started", ""), (5 * 3600 + 1800, "line opened", "COM1 9600"),
           (12 * 3600, "line lost", "connection reset"), (12 * 3600 + 900, "line reconnected", ""),
           (22 * 3600 + 600, "stopping", "")]
db.executemany("INSERT INTO station_events(time, kind, detail) VALUES(?, ?, ?)",
               [(at(t), k, d) for t, k, d in station])
for port, name in enumerate(names, 1):
    t = 6 * 3600 + rnd.randint(0, 3600)
    while t < 21 * 3600:
        program = "/srv/nc/O%d.NC" % rnd.choice([1000 + port * 10, 2000 + port * 10, 3000 + port])
        db.execute("INSERT INTO transfers(port, machine, program, kind, started, ended, characters,"
                   " result) VALUES(?, ?, ?, 'request', ?, ?, ?, 'transmitted')",
                   (port, name, program, at(t), at(t + 60), rnd.randint(2000, 60000)))
        t += 300
        cycle = rnd.randint(8, 40) * 60
        for _ in range(rnd.randint(3, 8)):
            if t > 21 * 3600 or 12 * 3600 - cycle <= t < 12 * 3600 + 900:
                break
            event(port, name, "cycle start", t)
            t += cycle + rnd.randint(-60, 60)
            event(port, name, "cycle finish", t)
            t += rnd.randint(60, 600)
        if rnd.random() < 0.3:
            event(port, name, "tool change stop", t)
            t += rnd.randint(600, 2400)
            event(port, name, "tool change resume", t)
        t += rnd.randint(300, 2400)
db.commit()
