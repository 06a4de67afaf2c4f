"""korvel-gateway under the load of scripts/bench-lines: sixteen lines of 100 modules x 100 tags,
each on its own simulator at 19200 baud, through one gateway to a local mosquitto. Measures the
gateway's CPU share beside the same lines polled without MQTT (bench_many_lines, same run), the
messages a subscriber to everything receives per second and the gateway's CPU per message, the
latency from a value change in the simulator to the message at a subscriber (JSON: also the gateway's
own part of it, from the tag's time stamp, and the latency from a set to its frame on the wire), and
the resident memory of the gateway at 1, 4 and 16 lines beside the same lines polled without MQTT. MODE json (per-tag topics, the default) or sparkplug (Sparkplug B: a
device per module, its changes of a scan in one DDATA).
  gateway_bench.py SECONDS BUILD_DIR [MODE]
The last line is for scripts/bench: "RESULT key value ...". Needs Debian's python3-paho-mqtt."""
import os
import pwd
import datetime
import json
import re
import resource
import signal
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
SET_MODULES = 10  # line 1's modules that take sets (a password tag each)
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


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def children_peak_kb():
    """The peak resident size of the largest child waited for so far."""
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss


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
            before = time.monotonic()
            p = subprocess.Popen(args + (["--control"] if i == 1 else []), stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)
            procs.append(p)
            assert p.stdout.readline().startswith("READY")
            if i == 1:  # its wire log counts from its start, between these two
                sim_started, sim_clock_ms = time.monotonic(), (time.monotonic() - before) * 1000
            env["KORVELPLNK_COM%d" % i] = "%s/line%d" % (work, i)
        control = procs[0]

        # The same lines polled without MQTT, one host process: its peak memory at 1 and 4 lines
        # (growing, so each run's peak is the largest yet), then the run that is measured.
        host_kb = {}
        for n in (1, 4):
            subprocess.run([many, "6", str(n), str(MODULES), str(TAGS), "10"], env=env, cwd=work,
                           capture_output=True, check=True)
            host_kb[n] = children_peak_kb()
        out = subprocess.run([many, str(seconds), str(LINES), str(MODULES), str(TAGS), "10"], env=env, cwd=work,
                             capture_output=True, text=True, check=True).stdout
        host_kb[LINES] = children_peak_kb()
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
                if i == 1:  # the sets' tags
                    f.write("".join("pw%d,SetPassWord%d:0,bool,1000\n" % (m, m) for m in range(SET_MODULES)))
            writable = ["pw%d" % m for m in range(SET_MODULES)] if i == 1 else []
            config.append('[[line]]\nname = "line%d"\nblock = "line%d.pdb"\ntags = "line%d.csv"\nwritable = %s\n'
                          % (i, i, i, json.dumps(writable)))

        def write_config(n):
            with open(work + "/gateway.toml", "w") as f:
                f.write("\n".join(config[:n + 1]) % port)
        with open(work + "/mosquitto.conf", "w") as f:
            # sys_interval: the broker's count of received messages, every second.
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nsys_interval 1\nuser %s\n"
                    % (port, pwd.getpwuid(os.getuid()).pw_name))
        broker = subprocess.Popen(["mosquitto", "-c", work + "/mosquitto.conf"], stderr=subprocess.DEVNULL)
        procs.append(broker)
        time.sleep(0.5)

        def start_gateway():
            gw = subprocess.Popen([gateway, "--config", work + "/gateway.toml", "--library", build + "/KorvelPLNK.so"],
                                  env=env, cwd=work, stderr=subprocess.DEVNULL)
            procs.append(gw)
            return gw

        # Memory at 1 and 4 lines, once every line has started and published its first table.
        gateway_kb = {}
        for n in (1, 4):
            write_config(n)
            gw = start_gateway()
            time.sleep(12)
            gateway_kb[n] = resident_kb(gw.pid)
            gw.send_signal(signal.SIGTERM)
            gw.wait(60)
        write_config(LINES)

        # Every message as a subscriber to everything receives it (the broker's own count of what
        # it received was a sixth above that).
        everything = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-t",
                                       "spBv1.0/#" if sparkplug else "korvel/#", "-F", "%t"], stdout=subprocess.PIPE)
        procs.append(everything)
        received = [0]

        def count_everything():
            for _ in everything.stdout:
                received[0] += 1

        threading.Thread(target=count_everything, daemon=True).start()

        lock, arrived = threading.Condition(), {}
        scans = {}

        metrics = [0]  # Sparkplug: the tag changes in the DDATA of the lines subscribed to
        own, measuring = [], [False]

        def on_message(_c, _u, msg):
            now, wall = time.monotonic(), time.time()
            if sparkplug:
                # spBv1.0/Plant/DDATA/gw1/lineN-M: the device's changes of a scan, PV as the tag "m<M>t0".
                line, module = msg.topic.split("/")[4].split("-")
                tag = "m%st0" % module
                with lock:
                    metrics[0] += ddata_metrics(msg.payload)
            else:
                line, tag = msg.topic.split("/")[1:3]
                # The gateway's own part: from the tag's time stamp (the value read) to here.
                ts = re.search(rb'"ts": "([^"]+)"', msg.payload)
                if ts and line == "line1" and measuring[0]:
                    own.append((wall - datetime.datetime.fromisoformat(ts.group(1).decode()).timestamp()) * 1000)
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
        sub.loop_start()
        gw = start_gateway()
        time.sleep(12)  # every line started and its first table published
        gateway_kb[LINES] = resident_kb(gw.pid)

        latencies = []
        time.sleep(1.1)
        r0, c0 = received[0], metrics[0]
        g0, b0, t0 = cpu_seconds(gw.pid), cpu_seconds(broker.pid), time.monotonic()
        value, pending, sets = 2000, {}, []
        control.stdin.write("clear-log\n")
        control.stdin.flush()
        assert control.stdout.readline().startswith("OK")
        measuring[0] = True
        while time.monotonic() - t0 < seconds:
            if value % 4 == 0 and not sparkplug:  # a set every 200 ms, each module's every 2 s
                m = (value // 4) % SET_MODULES
                sets.append((m, time.monotonic()))
                sub.publish("korvel/line1/pw%d/set" % m, "true", qos=1)
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
        measuring[0] = False
        gw_pct = (cpu_seconds(gw.pid) - g0) / wall * 100
        broker_pct = (cpu_seconds(broker.pid) - b0) / wall * 100
        time.sleep(2)  # the last sets' frames
        control.stdin.write("log\n")
        control.stdin.flush()
        wire = []
        for line in iter(control.stdout.readline, ""):
            if line.startswith("OK") or line.startswith("ERR"):
                break
            w = line.split(" ", 3)
            if len(w) == 4 and w[1] == "RX" and w[3].startswith("%"):
                wire.append((int(w[2]), sim_started + int(w[0]) / 1000))
        set_lat = []
        for m, at in sets:
            later = [t for st, t in wire if st == m and t >= at - 0.05]
            if later:
                set_lat.append((min(later) - at) * 1000)
        # The gateway's message rate follows how fast the lines scan, which moves with the machine's
        # load: its CPU per message is what compares between runs.
        time.sleep(1.1)
        sent = (received[0] - r0) / wall
        set_lat.sort()
        own.sort()
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
        if not sparkplug:
            print("the gateway's own part, from the tag's time stamp to the subscriber: p50 %.1f ms, p99 %.1f ms (%d)"
                  % (q(own, .5), q(own, .99), len(own)))
            print("a set to its frame on the wire: p50 %.0f ms, p99 %.0f ms (%d of %d sets; the simulator's clock"
                  " is known to %.0f ms)" % (q(set_lat, .5), q(set_lat, .99), len(set_lat), len(sets), sim_clock_ms))
        for n in sorted(gateway_kb):
            print("memory at %2d lines: gateway %.1f MB, the same lines polled without MQTT %.1f MB: %.2f MB a line more"
                  % (n, gateway_kb[n] / 1024, host_kb[n] / 1024, (gateway_kb[n] - host_kb[n]) / 1024 / n))
        print("RESULT seconds %.0f gateway_cpu_pct %.2f polling_cpu_pct %.2f reported_per_s %.0f broker_cpu_pct %.2f latency_p50_ms %.1f "
              "latency_p99_ms %.1f samples %d scan_p50_ms %.1f scan_p99_ms %.1f gateway_msgs_per_s %.0f gateway_us_per_msg %.2f "
              "changes_per_s %.0f gateway_us_per_change %.2f broker_us_per_change %.2f mode %s "
              "own_p50_ms %.1f own_p99_ms %.1f set_p50_ms %.1f set_p99_ms %.1f "
              "mb_per_line_1 %.2f mb_per_line_4 %.2f mb_per_line_16 %.2f"
              % (wall, gw_pct, polling, reported, broker_pct, q(latencies, .5), q(latencies, .99), len(latencies),
                 q(gaps, .5), q(gaps, .99), sent, gw_pct * 1e4 / max(sent, 1), changes,
                 gw_pct * 1e4 / max(changes, 1), broker_pct * 1e4 / max(changes, 1), mode,
                 q(own, .5), q(own, .99), q(set_lat, .5), q(set_lat, .99),
                 *[(gateway_kb[n] - host_kb[n]) / 1024 / n for n in (1, 4, LINES)]))
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                p.wait(30)
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main(float(sys.argv[1]), sys.argv[2], *sys.argv[3:4])
