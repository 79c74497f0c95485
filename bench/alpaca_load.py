#!/usr/bin/env python3
"""Load on the headless Alpaca server (not a timed test).

Starts `kelvane --headless --simulator --alpaca PORT`, then
  1. sequential GET brightness round trips on one keep-alive connection:
     median and p99;
  2. 50 concurrent clients x 200 requests, three rounds: errors and the
     server's resident memory after each round;
  3. 64 slow connections from 127.0.0.2, each sending one byte every 3 s
     and reconnecting when the server closes it, while a normal client on
     127.0.0.1 asks every 10 ms for 15 s: its median, p99 and errors (and
     the same client alone first).
Usage: bench/alpaca_load.py build/default/kelvane [requests]
"""
import multiprocessing, os, random, select, socket, statistics, subprocess, sys, tempfile, threading, time

exe = sys.argv[1]
sequential = int(sys.argv[2]) if len(sys.argv) > 2 else 5000
REQUEST = (b"GET /api/v1/covercalibrator/0/brightness?ClientID=1&ClientTransactionID=%d HTTP/1.1\r\n"
           b"Host: 127.0.0.1\r\n\r\n")


def exchange(sock, n, buf):
    sock.sendall(REQUEST % n)
    while True:
        head_end = buf.find(b"\r\n\r\n")
        if head_end >= 0:
            head = buf[:head_end].decode()
            length = int(head.lower().split("content-length:")[1].split("\r\n")[0])
            if len(buf) >= head_end + 4 + length:
                body = buf[head_end + 4:head_end + 4 + length]
                return head, body, buf[head_end + 4 + length:]
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        buf += chunk


def ok(head, body, n):
    return (head.startswith("HTTP/1.1 200") and b'"ErrorNumber":0,' in body
            and b'"ClientTransactionID":%d,' % n in body)


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def slow_senders(port, slow_count, stop, results):
    """In a process of its own, so that its threads do not slow the measuring client."""
    counts = {"opened": 0, "408": 0, "503": 0, "other": 0}
    lock = threading.Lock()

    def slow():
        s = None
        while not stop.is_set():
            if s is None:
                s = socket.socket()
                s.bind(("127.0.0.2", 0))
                s.connect(("127.0.0.1", port))
                with lock:
                    counts["opened"] += 1
                sent = 0
            s.send(REQUEST[sent:sent + 1])
            sent += 1
            stop.wait(3)
            if select.select([s], [], [], 0)[0]:  # answered or closed: the server let go
                answer = s.recv(64)[9:12].decode(errors="replace")
                with lock:
                    counts[answer if answer in counts else "other"] += 1
                s.close()
                s = None
        if s:
            s.close()

    threads = [threading.Thread(target=slow) for _ in range(slow_count)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    results.put(counts)


def trickle(port, seconds=15, slow_count=64):
    stop, results = multiprocessing.Event(), multiprocessing.Queue()
    senders = multiprocessing.Process(target=slow_senders, args=(port, slow_count, stop, results))
    senders.start()
    time.sleep(1)
    times, errors, buf, n = [], 0, b"", 0
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        n += 1
        t = time.perf_counter_ns()
        try:
            head, body, buf = exchange(sock, n, buf)
            errors += not ok(head, body, n)
        except OSError:
            errors += 1
            sock = socket.create_connection(("127.0.0.1", port))
            buf = b""
        times.append(time.perf_counter_ns() - t)
        time.sleep(0.01)
    sock.close()
    stop.set()
    counts = results.get()
    senders.join()
    times.sort()
    print("trickle: %d slow connections from 127.0.0.2 (%d opened in %d s; closed by 408: %d, refused 503: %d, "
          "other: %d)" % (slow_count, counts["opened"], seconds + 1, counts["408"], counts["503"], counts["other"]))
    print("trickle: normal client %d GET brightness, median %.1f us, p99 %.1f us, max %.1f us, errors %d" % (
        len(times), statistics.median(times) / 1e3, times[int(len(times) * 0.99)] / 1e3, times[-1] / 1e3, errors))


def main():
    work = tempfile.mkdtemp()
    env = dict(os.environ, XDG_CONFIG_HOME=work)
    port = random.randint(20000, 50000)
    server = subprocess.Popen([exe, "--headless", "--simulator", "--alpaca", str(port)], env=env,
                              stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                sock = socket.create_connection(("127.0.0.1", port))
                break
            except OSError:
                time.sleep(0.05)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # Start-up moves the panel to the last brightness; measure at rest.
        time.sleep(3)
        times, buf = [], b""
        for n in range(1, sequential + 1):
            t = time.perf_counter_ns()
            head, body, buf = exchange(sock, n, buf)
            times.append(time.perf_counter_ns() - t)
            assert ok(head, body, n), body
        sock.close()
        times.sort()
        print("sequential: %d GET brightness, median %.1f us, p99 %.1f us, max %.1f us" % (
            sequential, statistics.median(times) / 1e3, times[int(len(times) * 0.99)] / 1e3, times[-1] / 1e3))

        print("server RSS before: %d kB" % rss_kb(server.pid))
        for round_ in range(1, 4):
            errors = [0]
            lock = threading.Lock()

            def client():
                bad = 0
                try:
                    s = socket.create_connection(("127.0.0.1", port))
                    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    b = b""
                    for n in range(1, 201):
                        head, body, b = exchange(s, n, b)
                        bad += not ok(head, body, n)
                    s.close()
                except OSError:
                    bad += 1
                with lock:
                    errors[0] += bad

            threads = [threading.Thread(target=client) for _ in range(50)]
            t = time.perf_counter()
            for th in threads:
                th.start()
            for th in threads:
                th.join()
            elapsed = time.perf_counter() - t
            print("round %d: 50 clients x 200 requests in %.2f s (%.0f req/s), errors %d, server RSS %d kB" % (
                round_, elapsed, 10000 / elapsed, errors[0], rss_kb(server.pid)))
        trickle(port, slow_count=0)  # the same client alone, to compare
        trickle(port)
        print("server RSS after: %d kB" % rss_kb(server.pid))
    finally:
        server.terminate()
        server.wait()


main()
