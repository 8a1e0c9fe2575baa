#!/usr/bin/env python3
"""Loads URL in headless chromium and prints the page's DOM once JS_CONDITION holds.

chromium's own --dump-dom takes the page at its load event, before the page's script has
heard from the live stream, and --virtual-time-budget never ends while a stream is open; so
this drives the browser over its DevTools pipe (fd 3 in, fd 4 out, NUL-separated JSON).

    browser-dom.py CHROMIUM USER_DATA_DIR URL JS_CONDITION [SECONDS]
"""
import json, os, subprocess, sys, time

chromium, profile, url, condition = sys.argv[1:5]
seconds = float(sys.argv[5]) if len(sys.argv) > 5 else 20
to_browser_r, to_browser_w = os.pipe()
from_browser_r, from_browser_w = os.pipe()


def child_fds():
    os.dup2(to_browser_r, 3)
    os.dup2(from_browser_w, 4)


# --no-sandbox: CI runs as root, where chromium's sandbox will not start.
proc = subprocess.Popen([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                         "--remote-debugging-pipe", "--user-data-dir=" + profile,
                         "--window-size=1280,1000", "about:blank"],
                        pass_fds=(3, 4), preexec_fn=child_fds,  # kept after child_fds
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_browser_r)
os.close(from_browser_w)
pending = b""
next_id = 0


def call(method, session=None, **params):
    global pending, next_id
    next_id += 1
    msg = {"id": next_id, "method": method, "params": params}
    if session:
        msg["sessionId"] = session
    os.write(to_browser_w, json.dumps(msg).encode() + b"\0")
    while True:
        while b"\0" not in pending:
            data = os.read(from_browser_r, 65536)
            if not data:
                sys.exit("browser-dom: chromium ended")
            pending += data
        raw, pending = pending.split(b"\0", 1)
        reply = json.loads(raw)
        if reply.get("id") == next_id:
            if "error" in reply:
                sys.exit("browser-dom: %s: %s" % (method, reply["error"]))
            return reply["result"]


def evaluate(session, expression):
    r = call("Runtime.evaluate", session, expression=expression, returnByValue=True)
    return r.get("result", {}).get("value")


try:
    target = call("Target.createTarget", url=url)["targetId"]
    session = call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    deadline = time.time() + seconds
    while not evaluate(session, "Boolean(%s)" % condition):
        if time.time() > deadline:
            print("browser-dom: %s did not hold within %g s" % (condition, seconds), file=sys.stderr)
            break
        time.sleep(0.2)
    print(evaluate(session, "document.documentElement.outerHTML"))
    call("Browser.close")
finally:
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
