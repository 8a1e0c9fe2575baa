#!/usr/bin/env python3
"""The real station sending one program over a paced pseudo-terminal at a line rate.

A minimal port-controller stand-in on the pty master answers the probe, lets machine 1 ask
for the program, gives the Xon and takes whatever the station writes as it comes: the
station paces itself at the DNCDATA rate (no PACING=OFF), so the rate the far end sees, over
the line's own rate, is the share of the line the station keeps busy. Printed for the whole
program and for each tenth of it, so that anything that slows a transfer as it goes on shows.

    bench/line_rate.py BUILD_DIR [--kb 1024] [--baud 9600] [--gui] [--profile SECONDS]

--gui runs the desktop station under Xvfb (`shoplink gui --screenshot`, which also prints the
longest pause of Qt's loop over the transfer). --profile records the station with
`perf record -g` for that many seconds at the start and again near the end of the transfer.
The load average is printed at the start and at the end: the machine may be shared.
"""
import argparse, os, pty, select, shutil, signal, subprocess, sys, tempfile, time, tty

ap = argparse.ArgumentParser()
ap.add_argument("build")
ap.add_argument("--kb", type=float, default=1024)
ap.add_argument("--baud", type=int, default=9600)
ap.add_argument("--gui", action="store_true")
ap.add_argument("--profile", type=float, default=0)
ap.add_argument("--keep", action="store_true", help="keep the station directory")
a = ap.parse_args()

build = os.path.abspath(a.build)
work = tempfile.mkdtemp(prefix="shoplink-linerate.")
blocks = ["%d (BENCH)" % a.baud, "2", "", "", ""] + ["%d" % a.baud, "2", "", "", ""] * 7
with open(os.path.join(work, "DNCDATA"), "w", newline="") as f:
    f.write("\r\n".join(["COM1:%d" % a.baud, "=60", "SYSTEM.LOG"] + blocks) + "\r\n")
open(os.path.join(work, "SYSTEM.LOG"), "w").close()
size = 0
with open(os.path.join(work, "O1"), "wb") as f:
    f.write(b"%\r\nO0001 (LINE RATE)\r\n")
    n = 10
    while size < a.kb * 1024:
        line = b"N%d G01 X%d.345 Y-6.789 F200.\r\n" % (n, n % 1000)
        f.write(line)
        size += len(line)
        n += 10
    f.write(b"M30\r\n")

master, slave = pty.openpty()
tty.setraw(master)
os.set_blocking(master, False)
device = os.ttyname(slave)
out = open(os.path.join(work, "station.out"), "w")
if a.gui:
    shot = os.path.join(work, "shot.png")
    cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24",
           os.path.join(build, "app", "gui", "shoplink-gui"), "--station-dir", work,
           "--map", "COM1=" + device, "--screenshot", shot]
else:
    cmd = [os.path.join(build, "app", "shoplink"), "run", "--station-dir", work,
           "--map", "COM1=" + device]
proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)


def station_pid():
    """The station's own process (under xvfb-run it is a grandchild)."""
    name = "shoplink-gui" if a.gui else "shoplink"
    for _ in range(100):
        try:
            pids = subprocess.run(["pgrep", "-s", str(proc.pid), "-x", name[:15]],
                                  capture_output=True, text=True).stdout.split()
        except FileNotFoundError:
            pids = []
        if pids:
            return int(pids[0])
        time.sleep(0.1)
    return proc.pid


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def profile(tag):
    if not a.profile:
        return None
    data = os.path.join(work, "perf-%s.data" % tag)
    return subprocess.Popen(["perf", "record", "-g", "-q", "-o", data, "-p", str(spid), "--",
                             "sleep", str(a.profile)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL), data


def send(b):
    os.write(master, b)


spid = None
load_start = load()
buf = b""
answered = 0
probe_time = command_sent = stream_start = None
last_xon = 0
received = 0
marks = []  # (bytes, time) at each tenth of the program
perfs = []
done = False
deadline = time.time() + 3600 * 3
try:
    while not done and time.time() < deadline:
        r, _, _ = select.select([master], [], [], 0.05)
        now = time.time()
        if proc.poll() is not None:
            break
        if r:
            try:
                chunk = os.read(master, 65536)
            except (BlockingIOError, OSError):
                chunk = b""
            if stream_start:
                received += len(chunk)
                buf = (buf + chunk)[-16:]
                if b"\x04\x14" in buf:
                    received -= len(buf) - buf.index(b"\x04\x14")
                    done = True
                while len(marks) < 10 and received >= size * (len(marks) + 1) / 10:
                    marks.append((received, now))
                    if len(marks) == 8 and a.profile:
                        perfs.append(profile("end"))
            else:
                buf += chunk
                while buf.count(b"\x14J\x14K") > answered:
                    answered += 1
                    probe_time = probe_time or now
                    send(b"OK*\r\n")
        if stream_start is None:
            if command_sent is None and probe_time and now - probe_time > 6 and \
                    buf.endswith(b"\x141\x14Q"):
                send(b"TO1\r\n")
                command_sent = now
            elif command_sent and now - command_sent > 2 and now - last_xon > 1:
                send(b"\x11")
                last_xon = now
            if command_sent and last_xon and b"\r\nO0001 " in buf:
                stream_start = now
                received = len(buf) - buf.index(b"\r\nO0001 ")
                buf = buf[-16:]
                spid = station_pid()
                perfs.append(profile("start"))
    end = time.time()
finally:
    for p in perfs:
        if p:
            p[0].wait()
    if a.gui and done:
        # The window reports its longest pause once the transfer has ended.
        for _ in range(50):
            with open(os.path.join(work, "station.out")) as f:
                if "during the whole transfer" in f.read():
                    break
            time.sleep(0.1)
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    proc.wait()
    out.close()

if not done:
    print("FAILED: the program did not arrive (received %d bytes)" % received)
    with open(os.path.join(work, "station.out"), errors="replace") as f:
        print(f.read()[-3000:])
    sys.exit(1)
cps = a.baud / 10
secs = end - stream_start
print("%s, %d baud, program %.0f kB: %d characters in %.1f s = %.0f cps, %.3f of the line rate"
      % ("window" if a.gui else "headless", a.baud, size / 1024, received, secs, received / secs,
         received / secs / cps))
prev = (0, stream_start)
shares = []
for b, t in marks:
    shares.append("%.3f" % ((b - prev[0]) / (t - prev[1]) / cps))
    prev = (b, t)
print("each tenth: " + " ".join(shares))
print("load average: %s at the start, %s at the end" % (load_start, load()))
with open(os.path.join(work, "station.out"), errors="replace") as f:
    text = f.read()
for line in text.splitlines():
    if line.startswith("window:"):
        print(line)
print("station output: %d bytes" % len(text))
for p in perfs:
    if p:
        print("profile: %s" % p[1])
if a.keep or a.profile:
    print("station directory kept: %s" % work)
else:
    shutil.rmtree(work, ignore_errors=True)
