"""python-can's socketcand interface against OrvCanSim's bridge: another client's reading of
the same protocol."""
import logging
import os
import signal
import subprocess
import threading
import unittest

import can

# The socketcand interface warns about every read that ends between two messages.
logging.getLogger("can").setLevel(logging.ERROR)


def receive(bus, count):
    """(identifier, data) of up to count frames, each awaited at most two seconds."""
    frames = []
    while len(frames) < count and (message := bus.recv(2.0)) is not None:
        frames.append((message.arbitration_id, bytes(message.data)))
    return frames


class PythonCanTest(unittest.TestCase):
    def test_socketcand_interface_reaches_the_boards_and_the_other_clients(self):
        sim = subprocess.Popen([os.environ["ORV_CAN_SIM_BIN"], "--bridge", "0", "--puc",
                                "12,mode=boot,hwid=7", "--ht", "30,mode=boot"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        # A simulator that never gets ready is killed, which ends the reading below.
        watchdog = threading.Timer(15, sim.kill)
        watchdog.start()
        port = int(sim.stdout.readline().split()[2])  # "LISTEN bridge PORT", then "READY"
        self.assertEqual(sim.stdout.readline(), "READY\n")
        watchdog.cancel()
        first, second = [can.Bus(interface="socketcand", channel="can0", host="127.0.0.1",
                                 port=port) for _ in range(2)]
        try:
            first.send(can.Message(arbitration_id=0x20C, data=[0x70, 0, 0, 0, 0, 0, 0, 0]))
            self.assertEqual(receive(first, 1), [(0x18C, b"\x003100\x00\x00\x07")])
            first.send(can.Message(arbitration_id=0x21E, data=[0x70, 0, 0, 0, 0, 0, 0, 0]))
            self.assertEqual([i for i, _ in receive(second, 3)], [0x20C, 0x18C, 0x21E])
            self.assertEqual(receive(second, 1), [(0x19E, b"HT-0001\x00")])
        finally:
            first.shutdown()
            second.shutdown()
            sim.send_signal(signal.SIGTERM)
            try:
                self.assertEqual(sim.wait(timeout=10), 0)
            finally:
                sim.kill()  # one that ignored SIGTERM must not outlive the test
                sim.stdout.close()


if __name__ == "__main__":
    unittest.main()
