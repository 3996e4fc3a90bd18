"""python-can against OrvCanSim: its socketcand interface on the bridge, its LogReader on the
trace, and repeatable runs by seed."""
import logging
import os
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import can

SIM = os.environ["ORV_CAN_SIM_BIN"]
READY_WAIT_S = 15

# The socketcand interface warns about every read that ends between two messages.
logging.getLogger("can").setLevel(logging.ERROR)


class Simulator:
    """OrvCanSim as a child process, ready once it has printed READY; ended by stop()."""

    def __init__(self, *args):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE,
                                        stderr=self.log, text=True)
        self.bridge_port = None
        # A simulator that never gets ready is killed, which ends the reading below.
        watchdog = threading.Timer(READY_WAIT_S, self.process.kill)
        watchdog.start()
        try:
            for line in self.process.stdout:
                if line.startswith("LISTEN bridge "):
                    self.bridge_port = int(line.split()[2])
                if line.strip() == "READY":
                    break
        finally:
            watchdog.cancel()
        if self.process.poll() is not None:
            raise RuntimeError("OrvCanSim ended early")

    def bus(self):
        return can.Bus(interface="socketcand", channel="can0", host="127.0.0.1",
                       port=self.bridge_port)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self.process.stdout.close()
        self.log.close()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()


def request(node, *data):
    return can.Message(arbitration_id=0x200 | node, data=list(data) + [0] * (8 - len(data)),
                       is_extended_id=False)


def receive(bus, count, timeout=2.0):
    """Up to count frames, each awaited at most timeout seconds."""
    frames = []
    for _ in range(count):
        message = bus.recv(timeout)
        if message is None:
            break
        frames.append(message)
    return frames


def frames_of(path):
    return [(m.arbitration_id, bytes(m.data)) for m in can.LogReader(path)]


class PythonCanTest(unittest.TestCase):
    def test_socketcand_interface_reaches_the_boards_and_the_other_clients(self):
        with Simulator("--puc", "12,mode=boot,hwid=7", "--ht", "30,mode=boot",
                       "--bridge", "0") as sim:
            first, second = sim.bus(), sim.bus()
            try:
                first.send(request(12, 0x70))
                answer = receive(first, 1)
                self.assertEqual(len(answer), 1)
                self.assertEqual(answer[0].arbitration_id, 0x18C)
                self.assertEqual(bytes(answer[0].data), b"\x003100\x00\x00\x07")

                first.send(request(30, 0x70))
                seen = receive(second, 3)
                self.assertEqual([m.arbitration_id for m in seen], [0x20C, 0x18C, 0x21E])
                self.assertEqual(bytes(receive(second, 1)[0].data), b"HT-0001\x00")
            finally:
                first.shutdown()
                second.shutdown()
            self.assertEqual(sim.stop(), 0)

    def test_log_reader_reads_the_trace_back(self):
        with tempfile.TemporaryDirectory() as directory:
            trace = os.path.join(directory, "bus.log")
            with Simulator("--puc", "12,mode=boot", "--bridge", "0", "--channel", "vcan3",
                           "--trace", trace) as sim:
                bus = can.Bus(interface="socketcand", channel="vcan3", host="127.0.0.1",
                              port=sim.bridge_port)
                try:
                    for address in (0x5000, 0x5008, 0x4000):
                        bus.send(request(12, 0x60, 0, address & 0xFF, address >> 8))
                        self.assertEqual(len(receive(bus, 1)), 1)
                    bus.send(can.Message(arbitration_id=0x7FF, data=[], is_extended_id=False))
                    time.sleep(0.2)
                finally:
                    bus.shutdown()
                self.assertEqual(sim.stop(), 0)
            messages = list(can.LogReader(trace))
            self.assertEqual([m.arbitration_id for m in messages],
                             [0x20C, 0x18C, 0x20C, 0x18C, 0x20C, 0x18C, 0x7FF])
            self.assertTrue(all(m.channel == "vcan3" and not m.is_extended_id for m in messages))
            self.assertEqual(bytes(messages[4].data), bytes([0x60, 0, 0x00, 0x40, 0, 0, 0, 0]))
            self.assertEqual(bytes(messages[5].data), b"\xff" * 8)
            self.assertEqual(messages[6].dlc, 0)
            stamps = [m.timestamp for m in messages]
            self.assertEqual(stamps, sorted(stamps))
            self.assertLess(abs(stamps[0] - time.time()), 60)

    def test_the_same_seed_gives_the_same_run(self):
        def run(seed):
            with tempfile.TemporaryDirectory() as directory:
                trace = os.path.join(directory, "bus.log")
                with Simulator("--bridge", "0", "--loss", "0.5", "--seed", str(seed),
                               "--trace", trace) as sim:
                    sender, receiver = sim.bus(), sim.bus()
                    try:
                        for number in range(200):
                            sender.send(can.Message(arbitration_id=0x123,
                                                    data=[number, number >> 8],
                                                    is_extended_id=False))
                        heard = receive(receiver, 200, timeout=0.5)
                    finally:
                        sender.shutdown()
                        receiver.shutdown()
                    sim.stop()
                traced = frames_of(trace)
                self.assertEqual(traced, [(m.arbitration_id, bytes(m.data)) for m in heard])
                return traced

        first = run(7)
        self.assertEqual(run(7), first)
        self.assertNotEqual(run(8), first)
        self.assertTrue(60 < len(first) < 140, len(first))


if __name__ == "__main__":
    unittest.main()
