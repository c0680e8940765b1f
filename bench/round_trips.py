#!/usr/bin/python3
"""Counts the round trips a client waited for, from an strace log of it.

Usage: round_trips.py LOG

LOG is written by
  strace -f -qq -yy -e trace=connect,getsockopt,read,readv,recvfrom,recvmsg,write,writev,sendto,sendmsg,splice,close
so that every descriptor shows as TCP:[local->peer]. A round trip is a turn of the conversation: the
client sent something (a command, a handshake message, a connection request) and then took something
the server sent (a reply, handshake bytes, data, the end of a connection, a connection accepted).
Several sends before the next receipt are one round trip: the client did not wait between them. What
the server sends on its own (the 226 after the data) is part of the turn it ends, and so is what a
client sends on a connection it then closes (a TLS close_notify). Prints one number.
"""
import re
import sys

CALL = re.compile(r"^(?:\[pid\s+\d+\]\s+|\d+\s+)?(\w+)\((\d+)<TCP:\[[^\]]*\]>(.*)\)\s+=\s+(-?\d+)")
CLOSE = re.compile(r"^(?:\[pid\s+\d+\]\s+|\d+\s+)?close\((\d+)<TCP:")
SENDS = {"write", "writev", "sendto", "sendmsg"}
RECEIVES = {"read", "readv", "recvfrom", "recvmsg", "splice"}


def round_trips(lines):
    count = 0
    waiting = set()  # connections the client sent something on since it last received
    for line in lines:
        closed = CLOSE.match(line)
        if closed:
            waiting.discard(closed.group(1))
            continue
        m = CALL.match(line)
        if not m:
            continue
        call, fd, args, result = m.group(1), m.group(2), m.group(3), int(m.group(4))
        if call == "connect":
            # a connect that returned at once was made and answered within the call
            waiting.add(fd)
            if result == 0:
                count += 1
                waiting.clear()
        elif call == "getsockopt":
            # SO_ERROR after a connect that was under way: the server's answer to it
            if "SO_ERROR" in args and waiting:
                count += 1
                waiting.clear()
        elif call in SENDS and result > 0:
            waiting.add(fd)
        elif call in RECEIVES and result >= 0:
            if waiting:
                count += 1
                waiting.clear()
    return count


def main():
    with open(sys.argv[1], encoding="utf-8", errors="replace") as log:
        print(round_trips(log))


if __name__ == "__main__":
    main()
