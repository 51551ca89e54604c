#!/usr/bin/python3
"""Hand-run soak of a JetStream stream of three replicas on three local nats-servers.

Each run starts a fresh cluster (routes on free loopback ports), makes the stream
with `dravfeed --create --replicas 3`, publishes 1,000,000 generated cases and
SIGKILLs the stream's leader once the stream holds a fifth of them (the
publisher must carry on through another server), restarts it, then replays the
stream through `dravfeed --from` while another server is killed, and checks
that every case is there exactly once, in order, with its value. It prints one
line per run and a summary: runs, publishes that failed, cases lost or doubled
in the stream, replays that were short (with the feeder's break message), and
whether a full replay once the server is back gives every case.

    tests/soak/jetstream_cluster_soak.py [RUNS] [CASES]    (from the source tree, after a build)
"""
import os, re, signal, socket, struct, subprocess, sys, tempfile, time, urllib.request

BUILD = os.environ.get("DRAV_BUILD", os.path.join(os.path.dirname(__file__), "../../build"))
DRAVFEED = os.path.join(BUILD, "bin/dravfeed")
SERVER = "/usr/sbin/nats-server"
VARIABLES = "x F8 y F8"


def free_ports(n):
    held = [socket.socket() for _ in range(n)]
    for s in held:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


class Cluster:
    def __init__(self, folder):
        self.folder, self.routes = folder, free_ports(3)
        self.procs, self.ports, self.monitors = {}, {}, {}
        try:
            for i in range(3):
                self.start("s%d" % i, -1)
            for name in self.procs:
                self.wait_healthy(name)
        except Exception:
            self.stop()
            raise

    def wait_healthy(self, name, seconds=60):
        """A server is healthy once its JetStream knows the cluster's leader (a late
        joiner need not log the election)."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/healthz" % self.monitors[name], timeout=5) as r:
                    if b'"ok"' in r.read():
                        return
            except OSError:
                pass
            time.sleep(0.1)
        raise RuntimeError("%s never became healthy" % name)

    def start(self, name, port):
        i = int(name[1:])
        routes = ", ".join("nats://127.0.0.1:%d" % p for p in self.routes)
        conf = os.path.join(self.folder, name + ".conf")
        with open(conf, "w") as f:
            f.write("server_name: %s\nlisten: 127.0.0.1:%d\nhttp: 127.0.0.1:-1\njetstream { store_dir: \"%s\" }\n"
                    "cluster { name: drav, listen: 127.0.0.1:%d, routes: [%s] }\n"
                    % (name, port, os.path.join(self.folder, name), self.routes[i], routes))
        log = os.path.join(self.folder, name + ".log")
        self.procs[name] = subprocess.Popen([SERVER, "-c", conf, "-l", log])
        since = os.path.getsize(log) if os.path.exists(log) else 0
        self.monitors[name] = int(self.wait_log(name, "Starting http monitor on", since).rsplit(":", 1)[1])
        self.ports[name] = int(self.wait_log(name, "Listening for client connections on", since).rsplit(":", 1)[1])

    def wait_log(self, name, text, since=0, seconds=60):
        log = os.path.join(self.folder, name + ".log")
        deadline = time.time() + seconds
        while time.time() < deadline:
            if os.path.exists(log):
                with open(log) as f:
                    f.seek(since)
                    for line in f:
                        if text in line:
                            return line.strip()
            time.sleep(0.1)
        raise RuntimeError("%s never logged %r" % (name, text))

    def url(self, stream, first=None):
        names = sorted(self.ports, key=lambda n: n != first)
        return "nats://" + ",".join("127.0.0.1:%d" % self.ports[n] for n in names) + "/" + stream

    def kill(self, name):
        self.procs[name].send_signal(signal.SIGKILL)
        self.procs[name].wait()

    def restart(self, name):
        self.start(name, self.ports[name])

    def stop(self):
        for p in self.procs.values():
            p.kill()
            p.wait()


def info(url):
    run = subprocess.run([DRAVFEED, "--info", url], capture_output=True, text=True)
    return dict(l.split(": ", 1) for l in run.stdout.splitlines() if ": " in l) if run.returncode == 0 else {}


def eventually(check, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if check():
            return True
        time.sleep(0.1)
    return False


def replay(cluster, url, kill=None):
    """One pass through dravfeed --from; returns (x values, feeder's stderr)."""
    log = os.path.join(cluster.folder, "feed.log")
    with open(log, "w") as err:
        feed = subprocess.Popen([DRAVFEED, "--socket", "0", "--linger", "0.5", "--from", url, "--variables", VARIABLES],
                                stderr=err)
    eventually(lambda: "listening on port" in open(log).read() or feed.poll() is not None)
    port = int(re.search(r"listening on port (\d+)", open(log).read()).group(1))
    data, killed = bytearray(), False
    with socket.create_connection(("127.0.0.1", port)) as s:
        while True:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            data += chunk
            if kill and not killed and len(data) > 4 << 20:
                cluster.kill(kill)
                killed = True
    feed.wait()
    err = open(log).read()
    body = bytes(data[4:])
    return [struct.unpack_from("=d", body, i)[0] for i in range(0, len(body) - len(body) % 16, 16)], err, feed.returncode


def one_run(cases):
    with tempfile.TemporaryDirectory(prefix="dravsoak.") as folder:
        cluster = Cluster(folder)
        try:
            url = cluster.url("soak")
            made = subprocess.run([DRAVFEED, "--publish", url, "--create", "--replicas", "3", "--variables", VARIABLES,
                                   "--generate", "0"], capture_output=True, text=True)
            assert made.returncode == 0, made.stderr
            leader = info(url)["leader"]
            start = time.time()
            log = os.path.join(folder, "producer.log")
            with open(log, "w") as err:
                producer = subprocess.Popen([DRAVFEED, "--publish", cluster.url("soak", leader), "--variables",
                                             VARIABLES, "--generate", str(cases)], stderr=err)
            eventually(lambda: int(info(url).get("cases", "0")) >= cases // 5 or producer.poll() is not None)
            cluster.kill(leader)
            producer.wait()
            err = open(log).read().strip()
            published = time.time() - start
            cluster.restart(leader)
            eventually(lambda: info(url).get("cases") == str(cases))
            state = info(url)
            xs, feed_err, status = replay(cluster, cluster.url("soak", state.get("leader")), kill=state.get("leader"))
            wrong = sum(1 for i, x in enumerate(xs) if x != i)
            # Every case of the stream, once the killed server is back.
            if cluster.procs[state["leader"]].poll() is not None:
                cluster.restart(state["leader"])
            eventually(lambda: info(url).get("cases") == str(cases))
            full, full_err, full_status = replay(cluster, url)
            wrong += sum(1 for i, x in enumerate(full) if x != i)
            return dict(publish=producer.returncode, publish_err=err, seconds=published, stored=int(state.get("cases", -1)),
                        replayed=len(xs), wrong=wrong, replay_status=status, replay_err=feed_err.strip(),
                        full=len(full), full_status=full_status, full_err=full_err.strip())
        finally:
            cluster.stop()


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    cases = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    results = []
    for run in range(runs):
        r = one_run(cases)
        results.append(r)
        print("run %d: publish exit %d in %.1f s, stream holds %d of %d cases; replay with its leader killed: %d cases, "
              "exit %d; full replay after: %d cases, exit %d; %d cases wrong"
              % (run + 1, r["publish"], r["seconds"], r["stored"], cases, r["replayed"], r["replay_status"], r["full"],
                 r["full_status"], r["wrong"]))
        for key in ("publish_err", "replay_err", "full_err"):
            if r[key] and (r["publish"] or r["replay_status"] or r["full_status"] or r["full"] != cases):
                print("    " + r[key].replace("\n", "\n    "))
        sys.stdout.flush()
    print("summary: %d runs, %d publishes failed, %d streams not exactly %d cases, %d replays short at a kill, "
          "%d full replays short, %d cases wrong"
          % (runs, sum(r["publish"] != 0 for r in results), sum(r["stored"] != cases for r in results), cases,
             sum(r["replayed"] < cases for r in results), sum(r["full"] != cases for r in results),
             sum(r["wrong"] for r in results)))


if __name__ == "__main__":
    main()
