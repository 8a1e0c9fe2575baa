#!/usr/bin/env python3
"""The real `shoplink run` sending a large program over a pseudo-terminal.

A minimal port-controller stand-in on the pty master answers the probe, lets machine 1 ask
for the program, gives the Xon and takes the program at full speed (or paced at a line rate
with --cps). After --hold-at bytes it sends Xoff and holds the station for --hold seconds.
Reports characters per second, the station's CPU seconds per MB while streaming, and its CPU
use while held. (shoplink-sim feeds each machine at its configured rate, at most 9600 baud,
so a 10 MB program would take three hours there.)

    bench/pty_send.py BUILD_DIR [--mb 10] [--cps 0] [--hold-at 1000000] [--hold 5]
"""
import argparse, os, pty, select, shutil, subprocess, sys, tempfile, time, tty

ap = argparse.ArgumentParser()
ap.add_argument("build")
ap.add_argument("--mb", type=float, default=10)
ap.add_argument("--cps", type=float, default=0, help="read pace (0 = as fast as possible)")
ap.add_argument("--hold-at", type=int, default=1_000_000)
ap.add_argument("--hold", type=float, default=5)
a = ap.parse_args()

station_bin = os.path.join(a.build, "app", "shoplink")
work = tempfile.mkdtemp(prefix="shoplink-ptybench.")
blocks = ["9600 (BENCH)", "2", "", "", ""] + ["9600", "2", "", "", ""] * 7
with open(os.path.join(work, "DNCDATA"), "w", newline="") as f:
    f.write("\r\n".join(["COM1:9600", "=60", "SYSTEM.LOG"] + blocks) + "\r\n")
size = 0
with open(os.path.join(work, "O1"), "wb") as f:
    n = 10
    while size < a.mb * 1_000_000:
        line = b"N%d G01 X12.345 Y-6.789 F200.\r\n" % n
        f.write(line)
        size += len(line)
        n += 10

master, slave = pty.openpty()
tty.setraw(master)
os.set_blocking(master, False)
device = os.ttyname(slave)
# Unpaced: this measures the station's own cost at the device's full speed, and nothing real
# sits behind the line to lose characters after an Xoff.
proc = subprocess.Popen([station_bin, "run", "--station-dir", work, "--map", "COM1=" + device,
                         "--map", "PACING=OFF"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
tick = os.sysconf("SC_CLK_TCK")


def cpu():
    with open("/proc/%d/stat" % proc.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


def send(b):
    os.write(master, b)


buf = b""
answered = 0
probe_time = None
command_sent = None
last_xon = 0
stream_start = None
received = 0
held = False
hold_cpu = None
hold_secs = 0.0
hold_started = None
done = False
deadline = time.time() + 600
try:
    while not done and time.time() < deadline:
        timeout = 0.05
        r, _, _ = select.select([master], [], [], timeout)
        now = time.time()
        if r and not held:
            want = 65536
            if a.cps and stream_start:
                # Take only what a line of that rate would have carried by now.
                due = int((now - stream_start - hold_secs) * a.cps) - received
                want = max(0, min(want, due))
            if want:
                try:
                    chunk = os.read(master, want)
                except BlockingIOError:
                    chunk = b""
                if stream_start:
                    received += len(chunk)
                    tail = (buf + chunk)[-16:]
                    buf = tail
                    if b"\x04\x14\x14\x14Q" in tail:
                        done = True
                else:
                    buf += chunk
                    while buf.count(b"\x14J\x14K") > answered:
                        answered += 1
                        probe_time = probe_time or now
                        send(b"OK*\r\n")
            elif a.cps:
                time.sleep(0.001)
        if stream_start is None:
            if command_sent is None and probe_time and now - probe_time > 4 and buf.endswith(b"\x141\x14Q"):
                send(b"TO1\r\n")
                command_sent = now
            elif command_sent and now - command_sent > 2 and now - last_xon > 1:
                send(b"\x11")
                last_xon = now
                if now - command_sent > 2.5 and len(buf) > 0:
                    pass
            if command_sent and last_xon and b"\r\nN10 " in buf:
                stream_start = now
                stream_cpu = cpu()
                received = len(buf) - buf.index(b"\r\nN10 ")
                buf = buf[-16:]
        elif not held and hold_cpu is None and received >= a.hold_at:
            send(b"\x13")
            held = True
            hold_started = now
            hold_cpu = cpu()
        elif held and now - hold_started >= a.hold:
            hold_cpu = cpu() - hold_cpu
            hold_secs = now - hold_started
            held = False
            send(b"\x11")
    end = time.time()
    total_cpu = cpu() - stream_cpu - (hold_cpu or 0)
finally:
    proc.terminate()
    proc.wait()
    shutil.rmtree(work, ignore_errors=True)

if not done:
    print("FAILED: the program did not arrive (received %d bytes)" % received)
    sys.exit(1)
secs = end - stream_start - hold_secs
mb = received / 1e6
print("program: %.1f MB, received %d bytes in %.2f s (hold of %.1f s excluded)" % (size / 1e6, received, secs, hold_secs))
print("rate: %.0f characters/s%s" % (received / secs, " (paced at %d)" % a.cps if a.cps else ""))
print("station CPU while streaming: %.3f s per MB" % (total_cpu / mb))
print("  -> at a 115200-baud line (11520 characters/s): %.2f%% of a core" % (100 * total_cpu / mb * 0.01152))
if hold_cpu is not None:
    print("station CPU while held by Xoff: %.3f s in %.1f s (%.2f%% of a core)" % (hold_cpu, hold_secs, 100 * hold_cpu / hold_secs))
