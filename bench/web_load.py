#!/usr/bin/env python3
"""The status page under load while the real `shoplink run` sends a program at 9600 baud.

A port-controller stand-in on a pseudo-terminal answers the probe, lets machine 1 ask for a
program of --kb kB and takes it at the line's rate (960 characters a second, the station
paces itself on a pseudo-terminal). Every --xoff-every characters it says Xoff, counts what
still comes during a 1 s hold, and says Xon. Meanwhile a second process (--load) has
--pollers clients each ask /api/status --rate times a second over a kept connection, and
--streams clients hold the live stream (/api/live). Prints characters after each Xoff,
efficiency (characters over the line's minimum time for them, holds excluded), the station's
CPU (user + system over the wall time of the send), and the response times the clients saw.

    bench/web_load.py BUILD_DIR [--kb 100] [--pollers 20] [--rate 10] [--streams 5]
    bench/web_load.py BUILD_DIR --pollers 0 --streams 0      (the same without the load)
"""
import argparse, http.client, json, os, pty, select, shutil, socket, statistics, subprocess
import sys, tempfile, threading, time, tty

ap = argparse.ArgumentParser()
ap.add_argument("build", nargs="?")
ap.add_argument("--kb", type=float, default=100)
ap.add_argument("--cps", type=float, default=960)
ap.add_argument("--xoff-every", type=int, default=20_000)
ap.add_argument("--pollers", type=int, default=20)
ap.add_argument("--rate", type=float, default=10)
ap.add_argument("--streams", type=int, default=5)
ap.add_argument("--load", help="internal: run the clients against this URL until stdin closes")
a = ap.parse_args()


def run_load(url):
    host, port = url.split("//")[1].rstrip("/").split(":")
    times, errors, events = [], [0], [0]
    lock = threading.Lock()
    stop = threading.Event()

    def poller(i):
        conn = http.client.HTTPConnection(host, int(port), timeout=10)
        next_at = time.monotonic() + i / (a.pollers * a.rate)
        while not stop.is_set():
            stop.wait(max(0, next_at - time.monotonic()))
            next_at += 1 / a.rate
            t0 = time.perf_counter()
            try:
                conn.request("GET", "/api/status")
                r = conn.getresponse()
                r.read()
                ok = r.status == 200
            except (OSError, http.client.HTTPException):
                ok = False
                conn.close()
            dt = time.perf_counter() - t0
            with lock:
                if ok:
                    times.append(dt)
                else:
                    errors[0] += 1

    def streamer():
        while not stop.is_set():
            try:
                s = socket.create_connection((host, int(port)), timeout=10)
                s.sendall(b"GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                while not stop.is_set():
                    data = s.recv(65536)
                    if not data:
                        break
                    with lock:
                        events[0] += data.count(b"event: status")
                s.close()
            except OSError:
                with lock:
                    errors[0] += 1

    threads = [threading.Thread(target=poller, args=(i,), daemon=True) for i in range(a.pollers)]
    threads += [threading.Thread(target=streamer, daemon=True) for _ in range(a.streams)]
    for t in threads:
        t.start()
    sys.stdin.read()  # until the parent closes it
    stop.set()
    with lock:
        ms = sorted(t * 1000 for t in times)
    out = {"requests": len(ms), "errors": errors[0], "status_events": events[0]}
    if ms:
        out["median_ms"] = statistics.median(ms)
        out["p99_ms"] = ms[min(len(ms) - 1, int(len(ms) * 0.99))]
        out["max_ms"] = ms[-1]
    print(json.dumps(out), flush=True)
    os._exit(0)


if a.load:
    run_load(a.load)

station_bin = os.path.join(a.build, "app", "shoplink")
work = tempfile.mkdtemp(prefix="shoplink-webload.")
blocks = ["9600 (BENCH)", "2", "", "", ""] + ["9600", "2", "", "", ""] * 7
with open(os.path.join(work, "DNCDATA"), "w", newline="") as f:
    f.write("\r\n".join(["COM1:9600", "=60", "SYSTEM.LOG"] + blocks) + "\r\n")
size = 0
with open(os.path.join(work, "O1"), "wb") as f:
    n = 10
    while size < a.kb * 1000:
        line = b"N%d G01 X12.345 Y-6.789 F200.\r\n" % n
        f.write(line)
        size += len(line)
        n += 10

master, slave = pty.openpty()
tty.setraw(master)
os.set_blocking(master, False)
device = os.ttyname(slave)
proc = subprocess.Popen([station_bin, "run", "--station-dir", work, "--map", "COM1=" + device,
                         "--web", "127.0.0.1:0"], stdout=subprocess.PIPE,
                        stderr=subprocess.DEVNULL, text=True)
url = None
while url is None:
    line = proc.stdout.readline()
    if not line:
        sys.exit("FAILED: the station ended before its status page was up")
    if line.startswith("shoplink: status page on "):
        url = line.split(" on ", 1)[1].strip()
threading.Thread(target=lambda: proc.stdout.read(), daemon=True).start()
load = None
if a.pollers or a.streams:
    load = subprocess.Popen([sys.executable, __file__, "--load", url, "--pollers", str(a.pollers),
                             "--rate", str(a.rate), "--streams", str(a.streams)],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
tick = os.sysconf("SC_CLK_TCK")


def cpu():
    with open("/proc/%d/stat" % proc.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


buf = b""
answered = 0
probe_time = command_sent = stream_start = None
last_xon = 0
received = 0
hold_started = None
hold_secs = 0.0
after_xoff = []
next_xoff = a.xoff_every
done = False
deadline = time.time() + 600
try:
    while not done and time.time() < deadline:
        r, _, _ = select.select([master], [], [], 0.01)
        now = time.time()
        if r:
            want = 65536
            if stream_start and hold_started is None:
                # Take only what a line of that rate would have carried by now.
                want = max(0, int((now - stream_start - hold_secs) * a.cps) - received)
            chunk = b""
            if want:
                try:
                    chunk = os.read(master, want)
                except BlockingIOError:
                    pass
            if stream_start:
                received += len(chunk)
                if hold_started is not None:
                    after_xoff[-1] += len(chunk)
                buf = (buf + chunk)[-16:]
                if b"\x04\x14\x14\x14Q" in buf:
                    done = True
            else:
                buf += chunk
                while buf.count(b"\x14J\x14K") > answered:
                    answered += 1
                    probe_time = probe_time or now
                    os.write(master, b"OK*\r\n")
            if not chunk and stream_start and hold_started is None:
                time.sleep(0.001)  # the line's next character is not due yet
        if stream_start is None:
            if command_sent is None and probe_time and now - probe_time > 4 and buf.endswith(b"\x141\x14Q"):
                os.write(master, b"TO1\r\n")
                command_sent = now
            elif command_sent and now - command_sent > 2 and now - last_xon > 1:
                os.write(master, b"\x11")
                last_xon = now
            if command_sent and last_xon and b"\r\nN10 " in buf:
                stream_start = now
                stream_cpu = cpu()
                received = len(buf) - buf.index(b"\r\nN10 ")
                buf = buf[-16:]
        elif hold_started is None and received >= next_xoff:
            os.write(master, b"\x13")
            hold_started = now
            after_xoff.append(0)
            next_xoff += a.xoff_every
        elif hold_started is not None and now - hold_started >= 1.0:
            hold_secs += now - hold_started
            hold_started = None
            os.write(master, b"\x11")
    end = time.time()
    total_cpu = cpu() - stream_cpu
    result = None
    if load:
        load.stdin.close()
        result = json.loads(load.stdout.readline())
        load.wait()
finally:
    proc.terminate()
    proc.wait()
    shutil.rmtree(work, ignore_errors=True)

if not done:
    print("FAILED: the program did not arrive (received %d bytes)" % received)
    sys.exit(1)
secs = end - stream_start - hold_secs
print("program: %d characters, received %d in %.1f s (%.1f s of Xoff holds excluded)" % (size, received, secs, hold_secs))
print("load: %d clients polling /api/status %g/s, %d live streams" % (a.pollers, a.rate, a.streams))
print("characters after each Xoff: %s (most %d)" % (after_xoff, max(after_xoff or [0])))
print("efficiency: %.3f" % (received / (secs * a.cps)))
print("station CPU: %.2f s in %.1f s (%.2f%% of a core)" % (total_cpu, end - stream_start, 100 * total_cpu / (end - stream_start)))
if result:
    print("responses: %d, errors %d, live status events %d" % (result["requests"], result["errors"], result["status_events"]))
    if result["requests"]:
        print("response time seen by the clients: median %.2f ms, p99 %.2f ms, max %.1f ms" % (result["median_ms"], result["p99_ms"], result["max_ms"]))
