#!/usr/bin/env python3
"""Who reaches the Alpaca server: two network namespaces made here (so fixed
ports are free in them) joined by a veth pair, the server's computer 10.77.0.1
and another 10.77.0.2. By default a client on the server's computer finds it
by discovery and switches the panel through its network address, the other
gets neither; with --alpaca-listen 0.0.0.0 both do. Exit 77: no namespaces.
"""
import json, os, socket, subprocess, sys, tempfile, time

PORT, DISCOVERY = 11111, 32227


def client():
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    u.settimeout(1.0)
    u.sendto(b"alpacadiscovery1", ("10.77.0.255", DISCOVERY))
    try:
        data, (address, _) = u.recvfrom(64)
        found = "%s:%d" % (address, json.loads(data)["AlpacaPort"])
    except socket.timeout:
        found = "none"
    body = b"Brightness=600&ClientID=7"
    request = (b"PUT /api/v1/covercalibrator/0/calibratoron HTTP/1.1\r\nHost: 10.77.0.1:%d\r\n"
               b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" % (PORT, len(body), body))
    answer = b""
    try:
        with socket.create_connection(("10.77.0.1", PORT), timeout=2) as s:
            s.sendall(request)
            while len(answer) < 4096:
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
    except OSError as e:
        answer = type(e).__name__.encode()
    print(found, answer.split(b"\r\n")[0].decode(), b'"ErrorNumber":0,' in answer)


def inside(ns):
    # Only the network namespace: "ip netns exec" also remounts /sys, which
    # fails where / is no mount point (a chroot).
    return ["nsenter", "--net=/run/netns/" + ns]


def main():
    exe, a, b = sys.argv[1], "kelvane%da" % os.getpid(), "kelvane%db" % os.getpid()
    made, work, server, failures = [], tempfile.mkdtemp(), None, 0
    try:
        for ns in (a, b):
            if subprocess.run(["ip", "netns", "add", ns], capture_output=True).returncode != 0:
                print("SKIP: cannot make network namespaces here")
                return 77
            made.append(ns)
        for cmd in ([a, "ip", "link", "add", "va", "type", "veth", "peer", "name", "vb", "netns", b],
                    [a, "ip", "addr", "add", "10.77.0.1/24", "dev", "va"], [a, "ip", "link", "set", "va", "up"],
                    [a, "ip", "link", "set", "lo", "up"], [b, "ip", "addr", "add", "10.77.0.2/24", "dev", "vb"],
                    [b, "ip", "link", "set", "vb", "up"]):
            subprocess.run(inside(cmd[0]) + cmd[1:], check=True)
        for listen, other_gets_in in ((None, False), ("0.0.0.0", True)):
            args = [exe, "--headless", "--simulator", "--alpaca", str(PORT), "--alpaca-discovery", str(DISCOVERY)]
            args += ["--alpaca-listen", listen] if listen else []
            server = subprocess.Popen(inside(a) + args, stderr=subprocess.DEVNULL,
                                      env=dict(os.environ, XDG_CONFIG_HOME=work))
            for _ in range(50):  # until it listens, at most 5 s
                if b":2B67 " in open("/proc/%d/net/tcp6" % server.pid, "rb").read() + \
                        open("/proc/%d/net/tcp" % server.pid, "rb").read():
                    break
                time.sleep(0.1)
            for ns, welcome in ((a, True), (b, other_gets_in)):
                got = subprocess.run(inside(ns) + [sys.executable, __file__, "--client"],
                                     capture_output=True, text=True, timeout=20).stdout.split()
                want = ["10.77.0.1:%d" % PORT, "HTTP/1.1", "200", "OK", "True"] if welcome else ["none"]
                if got[:len(want)] != want or (not welcome and got[1] == "HTTP/1.1"):
                    print("FAIL listen=%s from %s: %s, expected %s" % (listen, ns, got, want))
                    failures += 1
            server.terminate()
            server.wait(timeout=10)
        print("alpaca_netns: %s" % ("ok" if failures == 0 else "%d failures" % failures))
        return 1 if failures else 0
    finally:
        if server and server.poll() is None:
            server.kill()
        for ns in made:
            subprocess.run(["ip", "netns", "del", ns])


if __name__ == "__main__":
    if sys.argv[1:] == ["--client"]:
        client()
    else:
        sys.exit(main())
