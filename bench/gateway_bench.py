"""korvel-gateway under the load of scripts/bench-lines: sixteen lines of 100 modules x 100 tags,
each on its own simulator at 19200 baud, through one gateway to a local mosquitto. Measures the
gateway's CPU share beside the same lines polled without MQTT (bench_many_lines, same run), its
messages per second and CPU per message, and the latency from a value change in the simulator to the
message at a subscriber. MODE json (per-tag topics, the default) or sparkplug (Sparkplug B: a
device per module, its changes of a scan in one DDATA).
  gateway_bench.py SECONDS BUILD_DIR [MODE]
The last line is for scripts/bench: "RESULT key value ...". Needs Debian's python3-paho-mqtt."""
import os
import pwd
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

LINES, MODULES, TAGS = 16, 100, 100
CLK = os.sysconf("SC_CLK_TCK")


def tag_address(m, k):  # the layout of bench/many_lines.cpp
    if k < 40:
        return "PV%d:1" % m, "real"
    if k < 80:
        return "PV_ALARM%d:%d" % (m, 1 + k % 4), "bool"
    if k < 90:
        return "AO%d:1" % m, "real"
    return "PARM%d:%X" % (m, 16 + (k - 90) % 64), "real"


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ddata_metrics(payload):
    """The number of metrics in a Sparkplug B payload: its top-level fields 2 (length-delimited)."""
    i, n, count = 0, len(payload), 0
    while i < n:
        key, i = varint(payload, i)
        kind = key & 7
        if kind == 0:
            _, i = varint(payload, i)
        elif kind == 1:
            i += 8
        elif kind == 5:
            i += 4
        elif kind == 2:
            size, i = varint(payload, i)
            i += size
            count += (key >> 3) == 2
        else:
            break
    return count


def varint(b, i):
    v, shift = 0, 0
    while True:
        c = b[i]
        i += 1
        v |= (c & 0x7F) << shift
        shift += 7
        if c < 0x80:
            return v, i


def main(seconds, build, mode="json"):
    sparkplug = mode == "sparkplug"
    sim, pdb = build + "/sim/korvel-sim", build + "/cli/korvel-pdb"
    gateway, many = build + "/gateway/korvel-gateway", build + "/bench/bench_many_lines"
    work = tempfile.mkdtemp(prefix="korvel-gw-bench-")
    procs = []
    try:
        with open(work + "/modules.conf", "w") as f:
            for m in range(MODULES):
                f.write("module %d:PLNK:pv=ramp:0:1000:60000,ao=ramp:0:100:30000,alarm=ramp:0:15:16000\n" % m)
        env = dict(os.environ)
        for i in range(1, LINES + 1):
            args = [sim, "--config", work + "/modules.conf", "--baud", "19200", "--link", "%s/line%d" % (work, i)]
            p = subprocess.Popen(args + (["--control"] if i == 1 else []), stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)
            procs.append(p)
            assert p.stdout.readline().startswith("READY")
            env["KORVELPLNK_COM%d" % i] = "%s/line%d" % (work, i)
        control = procs[0]

        # The same lines polled without MQTT, one host process.
        out = subprocess.run([many, str(seconds), str(LINES), str(MODULES), str(TAGS), "10"], env=env, cwd=work,
                             capture_output=True, text=True, check=True).stdout
        polling = float(re.search(r"cpu_share_pct ([0-9.]+)", out).group(1))
        reported = float(re.search(r"reported_per_s ([0-9.]+)", out).group(1))

        # The gateway: blocks and tag lists for the same lines, a broker, a subscriber.
        config = ['[mqtt]\nurl = "mqtt://127.0.0.1:%d"\nclient_id = "bench"\ntopic_prefix = "korvel"\n' +
                  ('mode = "sparkplug"\ngroup_id = "Plant"\nedge_node_id = "gw1"\n' if sparkplug else "")]
        port = free_port()
        for i in range(1, LINES + 1):
            mods = sum((["--module", "%d:PLNK" % m] for m in range(MODULES)), [])
            subprocess.run([pdb, "new", "%s/line%d.pdb" % (work, i), *mods, "Port=COM%d" % i, "Baud=19200",
                            "TimeOut=1000"], check=True, capture_output=True)
            with open("%s/line%d.csv" % (work, i), "w") as f:
                for m in range(MODULES):
                    for k in range(TAGS):
                        addr, kind = tag_address(m, k)
                        f.write("m%dt%d,%s,%s,1000\n" % (m, k, addr, kind))
            config.append('[[line]]\nname = "line%d"\nblock = "line%d.pdb"\ntags = "line%d.csv"\n' % (i, i, i))
        with open(work + "/gateway.toml", "w") as f:
            f.write("\n".join(config) % port)
        with open(work + "/mosquitto.conf", "w") as f:
            # sys_interval: the broker's count of received messages, every second.
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nsys_interval 1\nuser %s\n"
                    % (port, pwd.getpwuid(os.getuid()).pw_name))
        broker = subprocess.Popen(["mosquitto", "-c", work + "/mosquitto.conf"], stderr=subprocess.DEVNULL)
        procs.append(broker)
        time.sleep(0.5)

        lock, arrived = threading.Condition(), {}
        scans = {}

        received = [0]  # the broker's count of messages received, nearly all of them the gateway's
        metrics = [0]  # Sparkplug: the tag changes in the DDATA of the lines subscribed to

        def on_message(_c, _u, msg):
            now = time.monotonic()
            if msg.topic.startswith("$SYS/"):
                received[0] = int(msg.payload)
                return
            if sparkplug:
                # spBv1.0/Plant/DDATA/gw1/lineN-M: the device's changes of a scan, PV as the tag "m<M>t0".
                line, module = msg.topic.split("/")[4].split("-")
                tag = "m%st0" % module
                with lock:
                    metrics[0] += ddata_metrics(msg.payload)
            else:
                line, tag = msg.topic.split("/")[1:3]
            with lock:
                if line == "line1":
                    arrived.setdefault(tag, []).append((now, msg.payload))
                    lock.notify_all()
                else:
                    scans.setdefault(tag, []).append(now)

        sub = mqtt.Client(client_id="bench-sub")
        sub.on_message = on_message
        sub.connect("127.0.0.1", port)
        for m in range(MODULES):
            if sparkplug:
                sub.subscribe([("spBv1.0/Plant/DDATA/gw1/line1-%d" % m, 1), ("spBv1.0/Plant/DDATA/gw1/line2-%d" % m, 1)])
            else:
                sub.subscribe([("korvel/line1/m%dt0" % m, 1), ("korvel/line2/m%dt0" % m, 1)])
        sub.subscribe("$SYS/broker/messages/received", 0)
        sub.loop_start()
        gw = subprocess.Popen([gateway, "--config", work + "/gateway.toml", "--library", build + "/KorvelPLNK.so"],
                              env=env, cwd=work, stderr=subprocess.DEVNULL)
        procs.append(gw)
        time.sleep(10)  # every line started and its first table published

        latencies = []
        time.sleep(1.1)
        r0, c0 = received[0], metrics[0]
        g0, b0, t0 = cpu_seconds(gw.pid), cpu_seconds(broker.pid), time.monotonic()
        value, pending = 2000, {}
        while time.monotonic() - t0 < seconds:
            # A new value on a module with none outstanding, every 50 ms; its message ends the sample.
            m = value % MODULES
            if m not in pending:
                control.stdin.write("module %d:PLNK:pv=%d\n" % (m, value))
                control.stdin.flush()
                pending[m] = (value, time.monotonic())
                assert control.stdout.readline().startswith("OK")
            value += 1
            time.sleep(0.05)
            with lock:
                for mod, (v, sent) in list(pending.items()):
                    for at, payload in arrived.get("m%dt0" % mod, []):
                        if at >= sent and (b"\x69" + struct.pack("<d", v) in payload if sparkplug else
                                           re.search(rb'"value": ?%d(\.0)?[,}]' % v, payload)):
                            latencies.append((at - sent) * 1000)
                            del pending[mod]
                            break
                arrived.clear()
        wall = time.monotonic() - t0
        gw_pct = (cpu_seconds(gw.pid) - g0) / wall * 100
        broker_pct = (cpu_seconds(broker.pid) - b0) / wall * 100
        # The gateway's message rate follows how fast the lines scan, which moves with the machine's
        # load: its CPU per message is what compares between runs.
        time.sleep(1.1)
        sent = (received[0] - r0) / wall
        # A tag change is a message in JSON mode; in Sparkplug mode a metric of a DDATA, counted on
        # two of the sixteen alike lines.
        changes = (metrics[0] - c0) / wall * LINES / 2 if sparkplug else sent
        with lock:
            # The first message of a tag is the table published at the start, not a scan.
            gaps = [(b - a) * 1000 for ts in scans.values() for a, b in zip(ts[1:], ts[2:])]
        sub.loop_stop()
        latencies.sort()
        q = lambda xs, p: xs[min(len(xs) - 1, int(p * len(xs)))] if xs else float("nan")
        gaps.sort()
        print("gateway: %.2f %% of one core (the same lines polled without MQTT: %.2f %%, %.0f reported changes/s),"
              " broker %.2f %%" % (gw_pct, polling, reported, broker_pct))
        print("gateway (%s): %.0f messages/s, %.2f us of CPU per message (polling alone: %.2f us per reported change)"
              % (mode, sent, gw_pct * 1e4 / max(sent, 1), polling * 1e4 / max(reported, 1)))
        print("per tag change (%.0f changes/s): gateway %.2f us, broker %.2f us of CPU"
              % (changes, gw_pct * 1e4 / max(changes, 1), broker_pct * 1e4 / max(changes, 1)))
        print("latency from a value change in the simulator to the subscriber: p50 %.0f ms, p99 %.0f ms (%d samples);"
              " the module's scan: p50 %.0f ms, p99 %.0f ms" % (q(latencies, .5), q(latencies, .99), len(latencies),
                                                                q(gaps, .5), q(gaps, .99)))
        print("RESULT seconds %.0f gateway_cpu_pct %.2f polling_cpu_pct %.2f reported_per_s %.0f broker_cpu_pct %.2f latency_p50_ms %.1f "
              "latency_p99_ms %.1f samples %d scan_p50_ms %.1f scan_p99_ms %.1f gateway_msgs_per_s %.0f gateway_us_per_msg %.2f "
              "changes_per_s %.0f gateway_us_per_change %.2f broker_us_per_change %.2f mode %s"
              % (wall, gw_pct, polling, reported, broker_pct, q(latencies, .5), q(latencies, .99), len(latencies),
                 q(gaps, .5), q(gaps, .99), sent, gw_pct * 1e4 / max(sent, 1), changes,
                 gw_pct * 1e4 / max(changes, 1), broker_pct * 1e4 / max(changes, 1), mode))
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                p.wait(30)
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main(float(sys.argv[1]), sys.argv[2], *sys.argv[3:4])
