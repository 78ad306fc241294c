"""CPU time of a Python standard-library parse of one datagram file, measured as
bench/datagram_parse.cpp measures ours: batches of calls timed with the process's CPU clock, the
median batch per call.

    python3 etree_parse.py FILE [BATCHES]

Prints two lines, "fromstring ..." (xml.etree.ElementTree.fromstring alone) and "fields ..."
(fromstring, then the texts of the elements our parser reads, found without regard to case as
ours does), each "<name> ns_per_datagram <median> min <fastest> batches <n> calls_per_batch <m>".
"""
import sys
import time
import xml.etree.ElementTree as ET

# The elements ParseLoggerDatagram reads from a radio message.
FIELDS = ("freq", "mode", "mycall", "opcall", "radioname", "mylocator", "locator",
          "mylocation", "location", "app", "isrunning", "call", "contestname", "radionr")


def parse_only(data):
    ET.fromstring(data)


def parse_and_read(data):
    root = ET.fromstring(data)
    texts = {}
    for element in root.iter():
        name = element.tag.lower()
        if name in FIELDS and name not in texts:
            texts[name] = element.text or ""
    return texts


def measure(function, data, batches):
    calls = 1
    while True:  # calls per batch so that one batch takes about 20 ms of CPU time
        start = time.process_time_ns()
        for _ in range(calls):
            function(data)
        spent = time.process_time_ns() - start
        if spent >= 5_000_000:
            calls = max(1, calls * 20_000_000 // spent)
            break
        calls *= 2
    per_call = []
    for _ in range(batches):
        start = time.process_time_ns()
        for _ in range(calls):
            function(data)
        per_call.append((time.process_time_ns() - start) / calls)
    per_call.sort()
    return "ns_per_datagram %.1f min %.1f batches %d calls_per_batch %d" % (
        per_call[len(per_call) // 2], per_call[0], batches, calls)


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: etree_parse.py FILE [BATCHES]")
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    batches = max(3, int(sys.argv[2])) if len(sys.argv) > 2 else 15
    parse_and_read(data)  # a datagram that is not well-formed XML stops here
    print("fromstring", measure(parse_only, data, batches))
    print("fields", measure(parse_and_read, data, batches))


if __name__ == "__main__":
    main()
