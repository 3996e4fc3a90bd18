"""python-can against OrvCanSim: its socketcand interface on the bridge, its LogReader on the
trace of a run that the seed repeats."""
import contextlib
import logging
import os
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import can

# The socketcand interface warns about every read that ends between two messages.
logging.getLogger("can").setLevel(logging.ERROR)


@contextlib.contextmanager
def simulator(*args, channel="can0", clients=1):
    """OrvCanSim with a bridge, once it has printed READY, and python-can clients of it."""
    process = subprocess.Popen([os.environ["ORV_CAN_SIM_BIN"], "--bridge", "0", *args],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    # A simulator that never gets ready is killed, which ends the reading below.
    watchdog = threading.Timer(15, process.kill)
    watchdog.start()
    lines = []
    for line in process.stdout:  # "LISTEN bridge PORT", then "READY"
        lines.append(line.split())
        if line == "READY\n":
            break
    watchdog.cancel()
    port = int(lines[0][2])
    buses = [can.Bus(interface="socketcand", channel=channel, host="127.0.0.1", port=port)
             for _ in range(clients)]
    try:
        yield buses
    finally:
        for bus in buses:
            bus.shutdown()
        process.send_signal(signal.SIGTERM)
        code = process.wait(timeout=10)
        process.stdout.close()
    assert code == 0, code


def request(node, *data):
    return can.Message(arbitration_id=0x200 | node, data=[*data, 0, 0, 0, 0, 0, 0, 0][:8])


def receive(bus, count, timeout=2.0):
    """(identifier, data) of up to count frames, each awaited at most timeout seconds."""
    frames = []
    while len(frames) < count and (message := bus.recv(timeout)) is not None:
        frames.append((message.arbitration_id, bytes(message.data)))
    return frames


class PythonCanTest(unittest.TestCase):
    def test_socketcand_interface_reaches_the_boards_and_the_other_clients(self):
        with simulator("--puc", "12,mode=boot,hwid=7", "--ht", "30,mode=boot",
                       clients=2) as (first, second):
            first.send(request(12, 0x70))
            self.assertEqual(receive(first, 1), [(0x18C, b"\x003100\x00\x00\x07")])
            first.send(request(30, 0x70))
            self.assertEqual([i for i, _ in receive(second, 3)], [0x20C, 0x18C, 0x21E])
            self.assertEqual(receive(second, 1), [(0x19E, b"HT-0001\x00")])

    def test_the_same_seed_gives_the_same_run_and_log_reader_reads_its_trace(self):
        def run(seed):
            with tempfile.TemporaryDirectory() as directory:
                trace = os.path.join(directory, "bus.log")
                with simulator("--loss", "0.5", "--seed", str(seed), "--channel", "vcan3",
                               "--trace", trace, channel="vcan3", clients=2) as (sender, receiver):
                    for number in range(200):
                        sender.send(request(number, number))
                    heard = receive(receiver, 200, timeout=0.5)
                traced = list(can.LogReader(trace))
            self.assertEqual([(m.arbitration_id, bytes(m.data)) for m in traced], heard)
            self.assertTrue(all(m.channel == "vcan3" and not m.is_extended_id for m in traced))
            stamps = [m.timestamp for m in traced]
            self.assertTrue(stamps == sorted(stamps) and abs(stamps[0] - time.time()) < 60)
            return heard

        first = run(7)
        self.assertEqual(run(7), first)
        self.assertNotEqual(run(8), first)
        self.assertTrue(60 < len(first) < 140, len(first))


if __name__ == "__main__":
    unittest.main()
