#!/usr/bin/python3
"""A TCP relay that puts a round trip time between a client and a server on loopback (no netem here).

Usage: delay_relay.py --listen ADDR --target ADDR --rtt-ms MS --port FROM[:TO] [--port P ...]
                      [--rate-mbps MBIT] [--window BYTES] [--stats FILE]

For every port P (a single port, or a range FROM:TO) it listens on LISTEN:P and forwards each connection
to TARGET:P. Every chunk is held RTT/2 in each direction, in order. A new connection also pays the TCP
handshake's round trip: the kernel accepts at once, so the client's first bytes are held until 1.5 RTT
after it connected and the server's until 1 RTT after, as they would arrive over a real path.

With --rate-mbps, each direction is also a link of that many Mbit/s: a chunk leaves it in 64 KiB
segments, one after the other, as a bottleneck on a real path paces what arrives.

Chunks are what one read gave (up to 256 KiB); no byte is looked at. At most WINDOW bytes (default
16 MiB) wait in each direction of a connection; beyond that the relay stops reading from that side, so
a fast sender is held back by TCP as on a real path with that much in flight.

With --stats, SIGUSR1 writes "TURNS CONNECTIONS UP DOWN" to FILE (atomically) and starts counting again.
A turn is one exchange of the conversation across all connections: the client sent something (bytes,
a connection request or the end of a connection) and then the server sent something back (bytes or an
end). Unlike bench/round_trips.py, the ends count: vsftpd sends its 226 only after the client has closed
the data connection, a round trip that the bytes alone do not show.
"""
import argparse
import asyncio
import collections
import os
import signal

SEGMENT = 64 * 1024  # what a paced link delivers at a time


class Stats:
    def __init__(self):
        self.reset()

    def reset(self):
        self.turns = 0
        self.connections = 0
        self.up = 0
        self.down = 0
        self.waiting = False  # the client sent something that the server has not answered yet

    def client_sent(self, size):
        self.up += size
        self.waiting = True

    def server_sent(self, size):
        self.down += size
        if self.waiting:
            self.turns += 1
            self.waiting = False


class Direction:
    """Bytes from one side held for the delay, then written to the other side in order."""

    def __init__(self, loop, delay, rate, floor, window, on_receive):
        self.loop = loop
        self.delay = delay
        self.rate = rate  # bytes a second, or None for no limit
        self.link_free = 0.0  # when the link has sent what it was given
        self.floor = floor  # nothing goes out before this time (the handshake's round trip)
        self.window = window
        self.on_receive = on_receive
        self.queue = collections.deque()  # (due, bytes, or None for the end)
        self.held = 0
        self.timer = None
        self.source = None  # transport read from
        self.sink = None  # transport written to
        self.source_paused = False
        self.source_lost = False
        self.ended = False  # the end was queued
        self.sink_full = False

    def push(self, data):
        if self.ended:
            return
        now = self.loop.time()
        if data is None:
            self.queue.append((max(now + self.delay, self.floor, self.link_free + self.delay), None))
            self.ended = True
            self.on_receive(0)  # an end is a message too: a server may wait for the client's
        else:
            if self.rate is None:
                self.queue.append((max(now + self.delay, self.floor), data))
            else:
                # a link of that rate sends the chunk in segments, one after the other
                view = memoryview(data)
                for start in range(0, len(data), SEGMENT):
                    piece = view[start:start + SEGMENT]
                    self.link_free = max(self.link_free, now) + len(piece) / self.rate
                    self.queue.append((max(self.link_free + self.delay, self.floor), bytes(piece)))
            self.held += len(data)
            self.on_receive(len(data))
            if self.held > self.window and not self.source_paused:
                self.source.pause_reading()
                self.source_paused = True
        self.schedule()

    def schedule(self):
        if self.timer is None and self.queue and not self.sink_full and self.sink is not None:
            self.timer = self.loop.call_at(self.queue[0][0], self.release)

    def release(self):
        self.timer = None
        now = self.loop.time()
        while self.queue and self.queue[0][0] <= now and not self.sink_full:
            _, data = self.queue.popleft()
            if data is None:
                # a socket that is gone closes the other; one that only ended its writing half-closes it
                if self.source_lost or not self.sink.can_write_eof():
                    self.sink.close()
                else:
                    self.sink.write_eof()
                continue
            self.held -= len(data)
            self.sink.write(data)
        if self.source_paused and self.held <= self.window // 2 and not self.source_lost:
            self.source.resume_reading()
            self.source_paused = False
        self.schedule()

    def source_gone(self):
        self.source_lost = True
        if not self.ended:
            self.push(None)
        elif not self.queue and self.sink is not None:
            self.sink.close()  # its end went through already

    def pause(self):
        self.sink_full = True
        if self.timer is not None:
            self.timer.cancel()
            self.timer = None

    def resume(self):
        self.sink_full = False
        self.schedule()


class Side(asyncio.Protocol):
    """One socket of a relayed connection: what it reads goes into `incoming`, `outgoing` writes to it."""

    def __init__(self, incoming, outgoing):
        self.incoming = incoming
        self.outgoing = outgoing

    def connection_made(self, transport):
        self.incoming.source = transport
        self.outgoing.sink = transport
        self.outgoing.schedule()

    def data_received(self, data):
        self.incoming.push(data)

    def eof_received(self):
        self.incoming.push(None)
        return True  # the other half stays open until the end has gone through

    def pause_writing(self):
        self.outgoing.pause()

    def resume_writing(self):
        self.outgoing.resume()

    def connection_lost(self, exc):
        self.incoming.source_gone()


def serve_port(loop, args, stats, port):
    delay = args.rtt_ms / 2000.0
    rate = args.rate_mbps * 1e6 / 8 if args.rate_mbps else None

    class ClientSide(Side):
        def __init__(self):
            now = loop.time()
            stats.connections += 1
            stats.waiting = True  # the connection request is answered by the server's first bytes
            super().__init__(Direction(loop, delay, rate, now + 3 * delay, args.window, stats.client_sent),
                             Direction(loop, delay, rate, now + 2 * delay, args.window, stats.server_sent))

        def connection_made(self, transport):
            super().connection_made(transport)
            transport.pause_reading()  # until the server's side is there
            loop.create_task(self.connect(transport))

        async def connect(self, transport):
            try:
                await loop.create_connection(lambda: Side(self.outgoing, self.incoming), args.target, port)
            except OSError:
                transport.close()
                return
            if not self.incoming.source_paused:
                transport.resume_reading()

    return loop.create_server(ClientSide, args.listen, port, reuse_address=True)


def ports_of(ranges):
    ports = []
    for text in ranges:
        first, _, last = text.partition(":")
        ports.extend(range(int(first), int(last or first) + 1))
    return ports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", required=True)
    parser.add_argument("--target", required=True)
    parser.add_argument("--rtt-ms", type=float, required=True)
    parser.add_argument("--port", action="append", required=True)
    parser.add_argument("--rate-mbps", type=float, default=0)
    parser.add_argument("--window", type=int, default=16 << 20)
    parser.add_argument("--stats")
    args = parser.parse_args()

    loop = asyncio.new_event_loop()
    stats = Stats()
    servers = [loop.run_until_complete(serve_port(loop, args, stats, p)) for p in ports_of(args.port)]

    def dump():
        if args.stats:
            temporary = args.stats + ".tmp"
            with open(temporary, "w", encoding="ascii") as out:
                out.write(f"{stats.turns} {stats.connections} {stats.up} {stats.down}\n")
            os.replace(temporary, args.stats)
        stats.reset()

    loop.add_signal_handler(signal.SIGUSR1, dump)
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    print("ready", flush=True)
    try:
        loop.run_forever()
    finally:
        for server in servers:
            server.close()


if __name__ == "__main__":
    main()
