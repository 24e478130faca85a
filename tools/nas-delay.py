#!/usr/bin/python3
"""A TCP relay on the loopback that holds every chunk, in each direction, for a set time.

This kernel has no netem, so tools/nas.sh puts this between sshfs and the SFTP server to give
the share a network's latency. Each chunk is stamped as it arrives and sent on once its time
has come, in order, while later ones keep arriving: many chunks are in flight at once, so the
relay adds latency without capping the bandwidth.

Prints the port it listens on, then relays every connection made to it until it is killed.
"""

import argparse
import collections
import ctypes
import select
import socket
import struct
import sys
import threading
import time

CHUNK = 1 << 20
PR_SET_TIMERSLACK = 29


def sharpen_sleeps():
    # A sleeping thread wakes up to 50 us late by default; at 0.1 ms each way that is half the
    # delay again. Threads started afterwards inherit the setting.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def close_both(a, b):
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


# Linux's value on x86 and ARM; Python does not name it.
SO_TIMESTAMPNS = 35
TIMESPEC = struct.Struct("qq")
# How far each wake-up moves the timer's lead, in seconds.
STEP = 10e-6


def arrival_time(source):
    """Reads a chunk and the time the kernel received it, on the clock of time.time().

    Stamping chunks with the kernel's time, not the moment this thread woke to read them,
    keeps the thread's wake-up out of the delay."""
    data, ancillary, _, _ = source.recvmsg(CHUNK, socket.CMSG_SPACE(TIMESPEC.size))
    for level, kind, value in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(value) >= TIMESPEC.size:
            seconds, nanoseconds = TIMESPEC.unpack_from(value)
            return data, seconds + nanoseconds / 1e9
    return data, time.time()


# One direction on one thread: select() waits to the microsecond (poll and epoll only to the
# millisecond), and no hand-over between threads adds to the delay. A timer wakes this thread
# late by a tenth of a millisecond or more on a virtual machine, half the delay at 0.2 ms; so
# it sets its timer earlier by as much as it takes for half the chunks to leave on time or
# before, and half after.
def one_way(source, target, delay, ends):
    pending = collections.deque()
    reading = True
    early = 0.0
    try:
        source.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        while reading or pending:
            timeout = None
            if pending:
                alarm = pending[0][0] - early
                timeout = max(0.0, alarm - time.time())
            ready, _, _ = select.select([source] if reading else [], [], [], timeout)
            now = time.time()
            if ready:
                data, arrived = arrival_time(source)
                pending.append((arrived + delay, data))
                reading = bool(data)
            elif timeout:  # woken by the timer: after the chunk's time or before it?
                early += STEP if now > pending[0][0] else -STEP
                early = min(max(early, 0.0), delay)
            while pending and pending[0][0] - early <= now:
                data = pending.popleft()[1]
                if data:
                    target.sendall(data)
                else:
                    target.shutdown(socket.SHUT_WR)
    except OSError:  # one side broke off: so does the other
        close_both(*ends)


def relay(client, target_port, delay):
    try:
        server = socket.create_connection(("127.0.0.1", target_port))
    except OSError as error:
        print(f"nas-delay: cannot reach port {target_port}: {error}", file=sys.stderr)
        client.close()
        return
    ends = (client, server)
    for s in ends:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    ways = [threading.Thread(target=one_way, args=(a, b, delay, ends), daemon=True)
            for a, b in ((client, server), (server, client))]
    for way in ways:
        way.start()
    for way in ways:
        way.join()
    for s in ends:
        s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--delay-ms", type=float, required=True, help="held in each direction")
    parser.add_argument("--target-port", type=int, required=True, help="on 127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="to listen on (default: any free)")
    args = parser.parse_args()
    if args.delay_ms < 0:
        parser.error("--delay-ms cannot be negative")
    sharpen_sleeps()
    listener = socket.create_server(("127.0.0.1", args.port))
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, args.target_port, args.delay_ms / 1000),
                         daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(130)
