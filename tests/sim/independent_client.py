#!/usr/bin/env python3
"""An independent client of the simulated R310.

Starts the r310sim program, opens the pseudo-terminal it prints, and talks to
it the way a service PC would: request frames built here with their own
CRC-16/CCITT-FALSE, answers taken apart here with their own frame hunter.
Nothing of the product's code is used, so a layout that the simulator and the
configurator got wrong together still shows up.

Usage: independent_client.py PATH/TO/r310sim
Prints one line per failed check and a summary; exits 1 when a check failed.
"""

import datetime
import os
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import tty

HEADER = b"VYK4"
FLAGS_READ = 0x00
FLAGS_WRITE = 0x60
FLAGS_DATA_ANSWER = 0xC0
RESPONSE_BIT = 0x80
ERROR_REPORT = 0xF0
MAX_PAYLOAD = 64

# The configurator waits 3 ticks of 100 ms for an answer before it re-sends.
ATTEMPT_WINDOW = 0.3
# How long a check waits before it calls a request unanswered.
SILENCE_WINDOW = 0.35

# Payload sizes of the data answers, by object.
ANSWER_SIZES = {2: 21, 3: 4, 4: 29, 6: 6, 7: 2, 10: 1, 31: 16, 33: 10,
                35: 8, 36: 18, 37: 17, 38: 39}

EPOCH_1980 = datetime.datetime(1980, 1, 1)


def crc16(data):
    """CRC-16/CCITT-FALSE: polynomial 0x1021, start 0xFFFF, no reflection."""
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


def frame(obj, flags, payload=b""):
    body = HEADER + bytes([obj, flags, len(payload)]) + bytes(payload)
    return body + struct.pack(">H", crc16(body))


def now_seconds():
    """The PC's local time as seconds since 1980-01-01 00:00 local time."""
    return int((datetime.datetime.now() - EPOCH_1980).total_seconds())


def u16(p, at):
    return struct.unpack_from("<H", p, at)[0]


def i16(p, at):
    return struct.unpack_from("<h", p, at)[0]


def u32(p, at):
    return struct.unpack_from("<I", p, at)[0]


def i32(p, at):
    return struct.unpack_from("<i", p, at)[0]


class Checks:
    """Collects verdicts; one line per failure, a summary at the end."""

    def __init__(self):
        self.count = 0
        self.failures = []
        self.section = ""

    def begin(self, section):
        self.section = section

    def check(self, condition, what):
        self.count += 1
        if not condition:
            line = "FAIL [%s] %s" % (self.section, what)
            self.failures.append(line)
            print(line, flush=True)
        return condition

    def equal(self, got, want, what):
        return self.check(got == want, "%s: got %r, want %r" % (what, got, want))

    def near(self, got, want, tolerance, what):
        return self.check(abs(got - want) <= tolerance,
                          "%s: got %r, want %r +- %r" % (what, got, want, tolerance))


class Answer:
    """One response frame as it arrived, with what came before it."""

    def __init__(self, raw, crc_ok, junk, echoes, chunk_times, sent_at):
        self.raw = raw
        self.obj = raw[4]
        self.flags = raw[5]
        self.payload = raw[7:-2]
        self.crc_ok = crc_ok
        self.junk = junk            # bytes before the header
        self.echoes = echoes        # complete frames without the response bit
        self.chunk_times = chunk_times  # (seconds after the send, byte count)
        self.sent_at = sent_at

    def first_byte_delay(self):
        return self.chunk_times[0][0] if self.chunk_times else None

    def last_byte_delay(self):
        return self.chunk_times[-1][0] if self.chunk_times else None


class Sim:
    """One r310sim process and the open pseudo-terminal it serves."""

    def __init__(self, program, options, pacing=False):
        args = [program] + ([] if pacing else ["--no-pacing"])
        args += ["--%s=%s" % (key, value) for key, value in options.items()]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE)
        self.fd = -1
        self.pending = b""
        ready, _, _ = select.select([self.proc.stdout], [], [], 10.0)
        if not ready:
            self.stop()
            raise RuntimeError("r310sim printed no device path")
        self.path = self.proc.stdout.readline().decode().strip()
        self.fd = os.open(self.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        attributes = termios.tcgetattr(self.fd)
        attributes[4] = attributes[5] = termios.B9600
        termios.tcsetattr(self.fd, termios.TCSANOW, attributes)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        """Closes the line and ends the program with SIGTERM; returns its exit code."""
        if self.fd >= 0:
            os.close(self.fd)
            self.fd = -1
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        return self.proc.returncode

    def send(self, data):
        os.write(self.fd, bytes(data))
        return time.monotonic()

    def drain(self, quiet=0.05):
        """Throws away whatever is still arriving until the line is quiet."""
        self.pending = b""
        while select.select([self.fd], [], [], quiet)[0]:
            try:
                os.read(self.fd, 4096)
            except BlockingIOError:
                break

    def receive(self, sent_at, timeout):
        """Hunts the next response frame; None when none completes in time."""
        deadline = sent_at + timeout
        junk = b""
        echoes = []
        chunks = []
        buffer = self.pending
        self.pending = b""
        while True:
            start = buffer.find(HEADER)
            if start < 0:
                keep = len(buffer) - 3 if len(buffer) > 3 else 0
                junk += buffer[:keep]
                buffer = buffer[keep:]
            else:
                junk += buffer[:start]
                buffer = buffer[start:]
                if len(buffer) >= 7 and buffer[6] > MAX_PAYLOAD:
                    junk += buffer[:1]
                    buffer = buffer[1:]
                    continue
                if len(buffer) >= 7 and len(buffer) >= buffer[6] + 9:
                    length = buffer[6] + 9
                    raw, buffer = buffer[:length], buffer[length:]
                    if raw[5] & RESPONSE_BIT:
                        self.pending = buffer
                        return Answer(raw, crc16(raw) == 0, junk, echoes, chunks, sent_at)
                    echoes.append(raw)
                    continue
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                self.pending = buffer
                return None
            try:
                data = os.read(self.fd, 4096)
            except BlockingIOError:
                continue
            chunks.append((time.monotonic() - sent_at, len(data)))
            buffer += data

    def exchange(self, obj, flags, payload=b"", timeout=1.0):
        request = frame(obj, flags, payload)
        return self.receive(self.send(request), timeout)

    def silent(self, obj, flags=FLAGS_READ, payload=b""):
        """True when a request gets no answer within the silence window."""
        return self.exchange(obj, flags, payload, SILENCE_WINDOW) is None


class Client:
    """The checks of one instrument on top of a Sim."""

    def __init__(self, sim, checks):
        self.sim = sim
        self.checks = checks

    def framed(self, answer, obj, what):
        c = self.checks
        if not c.check(answer is not None, "%s: no answer" % what):
            return False
        ok = c.check(answer.crc_ok, "%s: answer CRC wrong" % what)
        ok &= c.check(answer.flags & RESPONSE_BIT != 0, "%s: response bit clear" % what)
        ok &= c.equal(answer.obj, obj, "%s: answer object" % what)
        ok &= c.equal(answer.raw[6], len(answer.payload), "%s: length byte" % what)
        return ok

    def read(self, obj, selector=b"", what=None):
        """A read with an optional selector; the data payload, or None."""
        what = what or "read %d" % obj
        answer = self.sim.exchange(obj, FLAGS_READ, selector)
        if not self.framed(answer, obj, what):
            return None
        if not self.checks.equal(answer.flags, FLAGS_DATA_ANSWER, what + ": flags"):
            return None
        size = ANSWER_SIZES.get(obj)
        if obj == 34:
            self.checks.check(len(answer.payload) >= 18, what + ": at least 18 bytes")
        elif obj == 5:
            self.checks.check(len(answer.payload) >= 1, what + ": at least 1 byte")
        elif size is not None:
            if not self.checks.equal(len(answer.payload), size, what + ": payload size"):
                return None
        return answer.payload

    def write(self, obj, payload, what=None):
        what = what or "write %d" % obj
        answer = self.sim.exchange(obj, FLAGS_WRITE, payload)
        self.framed(answer, obj, what)
        return answer


# ---------------------------------------------------------------------------
# The main instrument: every object read, written and read back.

MAIN = {
    "serial": 12345678, "mk_type": 10301, "mk_serial": 4711, "software": 221,
    "customer_id": "ABCDEFGHIJ", "battery": 87, "clock_offset": 0,
    "range_begin": 0, "range_end": 500, "gas": 3, "unit": 1, "exponent": -1,
    "a1": 200, "a2": 400, "a3": 450, "stel": 100, "twa": 50,
    "a1_flags": 4, "a2_flags": 2, "a3_flags": 6, "stel_flags": 1, "twa_flags": 3,
    "cal_gas": 250, "u_zero": -1234, "u_full": 1240,
    "signal_modes": 0xE4, "bleep_interval": 30, "display_options": 0x59,
    "next_bump_in": 12, "next_cal_in": 150, "bump_interval": 30, "cal_interval": 180,
    "service_options": 5, "hw_zero": 1305, "hw_gain": 750, "hw_reference": 18995,
    "hw_options": 0xBE, "value": 250, "value_swing": 0,
    "cal_reads": 3, "cal_result": "ok", "events": 24, "max_events": 192,
    "logger_blocks": 6, "logger_max_blocks": 500, "logger_interval": 60,
    "logger_sets": 2, "logger_samples": 15, "logger_objects": "1,2,3,4",
}


def customer_bytes(text):
    return text.encode("ascii")[:10].ljust(10, b"\0")


def shown_value(payload, begin, end):
    """Object 7 as the configurator shows it: share x span / 10000, no offset."""
    return i16(payload, 0) * (end - begin) / 10000.0


def check_identity(client, serial, customer):
    c = client.checks
    p = client.read(2)
    if p is None:
        return
    c.equal(i32(p, 0), serial, "identity serial number")
    c.equal(u16(p, 4), MAIN["mk_type"], "identity MK type")
    c.equal(u16(p, 6), MAIN["mk_serial"], "identity MK serial")
    c.equal(u16(p, 8), MAIN["software"], "identity software version")
    c.equal(bytes(p[10:20]), customer_bytes(customer), "identity customer ID")
    c.equal(p[20], MAIN["battery"], "identity battery")


def check_reads(client):
    c = client.checks
    c.begin("connect and reads")
    answer = client.sim.exchange(1, FLAGS_WRITE)
    client.framed(answer, 1, "connect")

    check_identity(client, MAIN["serial"], MAIN["customer_id"])

    p = client.read(3)
    if p is not None:
        c.near(i32(p, 0), now_seconds(), 2, "clock against the PC")

    p = client.read(4)
    if p is not None:
        c.equal(i16(p, 1), MAIN["range_begin"], "range begin")
        c.equal(i16(p, 3), MAIN["range_end"], "range end")
        c.equal((p[5], p[6]), (MAIN["gas"], MAIN["unit"]), "gas and unit codes")
        c.equal(struct.unpack_from("b", p, 7)[0], MAIN["exponent"], "exponent")
        limits = [i16(p, 8 + 2 * k) for k in range(5)]
        c.equal(limits, [MAIN[k] for k in ("a1", "a2", "a3", "stel", "twa")], "alarm limits")
        c.equal(list(p[18:23]), [MAIN[k + "_flags"] for k in ("a1", "a2", "a3", "stel", "twa")],
                "alarm flags")
        c.equal(i16(p, 23), MAIN["cal_gas"], "calibration gas")
        c.equal((i16(p, 25), i16(p, 27)), (MAIN["u_zero"], MAIN["u_full"]), "sensor voltages")

    client.read(5)

    p = client.read(6)
    if p is not None:
        c.check(all(i16(p, k) > 0 for k in (0, 2, 4)),
                "idle bump result shows a finished test: %r" % [i16(p, k) for k in (0, 2, 4)])

    p = client.read(7)
    if p is not None:
        c.near(shown_value(p, MAIN["range_begin"], MAIN["range_end"]), MAIN["value"], 1,
               "live value scaled back by the span")

    client.read(10)

    today = now_seconds() // 86400
    p = client.read(31)
    if p is not None:
        c.equal((p[0], p[1], p[2]), (0xE4, 30, 0x59), "signal, bleep and display bytes")
        c.near(i16(p, 3), today + MAIN["next_bump_in"], 1, "next bump day")
        c.near(i16(p, 5), today + MAIN["next_cal_in"], 1, "next calibration day")
        c.equal((i16(p, 7), i16(p, 9)), (30, 180), "bump and calibration intervals")
        c.equal(p[11], 5, "service byte")

    p = client.read(33)
    if p is not None:
        c.equal((i16(p, 1), i16(p, 3), i16(p, 5)), (1305, 750, 18995), "hardware values")
        c.equal(p[7], 0xBE, "hardware options of a 2.21 instrument")

    p = client.read(35)
    if p is not None:
        c.equal(u16(p, 2), MAIN["events"], "stored events")
        c.equal(u16(p, 6), MAIN["max_events"], "maximum events")

    p = client.read(36)
    if p is not None:
        c.equal(u16(p, 2), MAIN["logger_blocks"], "stored logger blocks")
        c.equal(u16(p, 4), MAIN["logger_max_blocks"], "maximum logger blocks")
        c.equal(list(p[6:10]), [1, 2, 3, 4], "logger setting bytes 6 to 9")
        c.equal(u16(p, 12), MAIN["logger_interval"], "logging interval")


def check_writes(client):
    c = client.checks
    c.begin("writes read back")

    # Customer ID: only bytes 10 to 19 are taken, the zeros before them are not.
    client.write(2, bytes(10) + customer_bytes("XYZ") + b"\0")
    check_identity(client, MAIN["serial"], "XYZ")

    # Clock: set it far off, read it back, and set it right again.
    target = now_seconds() + 1000
    client.write(3, struct.pack("<i", target))
    p = client.read(3)
    if p is not None:
        c.near(i32(p, 0), target, 2, "clock after a write")
    client.write(3, struct.pack("<i", now_seconds()))
    p = client.read(3)
    if p is not None:
        c.near(i32(p, 0), now_seconds(), 2, "clock set back")

    # Alarm limits: range, gas, exponent and voltages are not written.
    limits = [210, 320, 430, 120, 60]
    flags = [0x01, 0x06, 0x02, 0x04, 0x00]
    payload = bytes(8) + struct.pack("<5h", *limits) + bytes(flags) + struct.pack("<h", -7) + bytes(4)
    client.write(4, payload)
    p = client.read(4)
    if p is not None:
        c.equal((i16(p, 1), i16(p, 3), p[5], p[6], struct.unpack_from("b", p, 7)[0]),
                (MAIN["range_begin"], MAIN["range_end"], MAIN["gas"], MAIN["unit"], MAIN["exponent"]),
                "range, gas and exponent kept by a limit write")
        c.equal([i16(p, 8 + 2 * k) for k in range(5)], limits, "alarm limits read back")
        c.equal(list(p[18:23]), flags, "alarm flags read back")
        c.equal(i16(p, 23), -7, "calibration gas read back")
        c.equal((i16(p, 25), i16(p, 27)), (MAIN["u_zero"], MAIN["u_full"]), "voltages kept")

    # Signals: everything but the four unused bytes reads back as written.
    signals = bytes([0xCE, 45, 0x3A]) + struct.pack("<4h", 7305, 7400, 14, 60) + bytes([0x0B]) + bytes(4)
    client.write(31, signals)
    p = client.read(31)
    if p is not None:
        c.equal(bytes(p[:12]), signals[:12], "signals read back")

    hardware = bytes([0]) + struct.pack("<3h", 1200, 815, 19000) + bytes([0xA0]) + bytes(2)
    client.write(33, hardware)
    p = client.read(33)
    if p is not None:
        c.equal(bytes(p[1:8]), hardware[1:8], "hardware settings read back")

    # Logger information with a new interval; the rest goes back as read.
    info = client.read(36)
    if info is not None:
        changed = bytes(info[:12]) + struct.pack("<H", 120) + bytes(info[14:])
        client.write(36, changed)
        p = client.read(36)
        if p is not None:
            c.equal(bytes(p), changed, "logger information after an interval write")


def check_status_objects(client):
    """Calibration to OK (span and zero), and the horn."""
    c = client.checks
    c.begin("calibration")
    for what, raw in (("span calibration", 250), ("zero calibration", 0)):
        client.write(9, struct.pack("<h", raw), what + " start")
        states = []
        for _ in range(MAIN["cal_reads"] + 3):
            p = client.read(10)
            if p is None:
                break
            states.append(struct.unpack_from("b", p, 0)[0])
            if states[-1] != 0:
                break
        c.equal(states[:MAIN["cal_reads"]], [0] * MAIN["cal_reads"], what + " reports running")
        c.check(len(states) == MAIN["cal_reads"] + 1 and states[-1] > 0,
                what + " ends OK after %d running reads: %r" % (MAIN["cal_reads"], states))

    c.begin("horn")
    client.write(8, b"\x01", "horn on")
    client.write(8, b"\x00", "horn off")


def event_plausible(c, number, p, now):
    kind = p[2]
    when = u32(p, 4)
    c.check(kind in (1, 2, 3, 4, 5, 9, 10, 11, 12, 13, 19, 20),
            "event %d has a known type: %d" % (number, kind))
    c.check(0 < when <= now + 2, "event %d time in the past: %d" % (number, when))
    if kind in (19, 20):
        c.check(0 < p[8] <= 100, "event %d battery %d" % (number, p[8]))
        c.equal(u16(p, 9), MAIN["mk_type"], "event %d MK type" % number)
        c.equal(u16(p, 11), MAIN["mk_serial"], "event %d MK serial" % number)
    elif kind in range(1, 14):
        c.equal((p[8], p[9]), (MAIN["gas"], MAIN["unit"]), "event %d gas and unit" % number)
        c.equal(struct.unpack_from("b", p, 10)[0], MAIN["exponent"], "event %d exponent" % number)
        c.check(0 < p[17] <= 100, "event %d battery %d" % (number, p[17]))
        values = [i16(p, 11), i16(p, 13), i16(p, 15)]
        c.check(all(MAIN["range_begin"] <= v <= MAIN["range_end"] for v in values),
                "event %d value, STEL and TWA within the range: %r" % (number, values))
        if kind == 1:
            c.check(values[0] >= MAIN["a1"], "event %d A1 ON at %d, limit %d" % (number, values[0], MAIN["a1"]))
    return kind, when


def check_events(client):
    c = client.checks
    c.begin("event log")
    now = now_seconds()
    times = []
    kinds = set()
    for number in range(1, MAIN["events"] + 1):
        p = client.read(34, struct.pack("<H", number), "event %d" % number)
        if p is None:
            return
        kind, when = event_plausible(c, number, p, now)
        kinds.add(kind)
        times.append(when)
    c.check(times == sorted(times), "events come oldest first")
    c.check(len(set(times)) == len(times), "events 1 to n are different records")
    c.check(kinds & {19, 20} and kinds & set(range(1, 6)),
            "the log holds device and alarm events: %r" % sorted(kinds))

    # Clearing: counters zero, the new maximum stored.
    client.write(35, bytes(6) + struct.pack("<H", 300) + bytes(4), "event clear")
    p = client.read(35)
    if p is not None:
        c.equal((u16(p, 2), u16(p, 6)), (0, 300), "events and maximum after a clear")


def check_logger(client):
    c = client.checks
    c.begin("data logger")
    now = now_seconds()
    info = client.read(36)
    if info is None:
        return
    previous_end = None
    alarm_seen = False
    for block in range(1, u16(info, 2) + 1):
        header = client.read(37, struct.pack("<H", block), "block %d" % block)
        if header is None:
            return
        start, step, samples, sets = u32(header, 9), u16(header, 13), header[15], header[16]
        c.equal(u16(header, 0), 1, "block %d state" % block)
        # Blocks keep the interval they were recorded with.
        c.equal((step, samples, sets),
                (MAIN["logger_interval"], MAIN["logger_samples"], MAIN["logger_sets"]),
                "block %d interval, samples and sets" % block)
        c.check(0 < start and start + (samples - 1) * step <= now + 2,
                "block %d lies in the past" % block)
        if previous_end is not None:
            c.check(start >= previous_end, "block %d starts after block %d" % (block, block - 1))
        previous_end = start + samples * step
        for k in range(1, sets + 1):
            p = client.read(38, bytes([k]), "block %d set %d" % (block, k))
            if p is None:
                return
            c.equal(p[0], 1, "block %d set %d state" % (block, k))
            c.equal((p[1], p[2], struct.unpack_from("b", p, 3)[0]),
                    (MAIN["gas"], MAIN["unit"], MAIN["exponent"]),
                    "block %d set %d gas, unit and exponent" % (block, k))
            alarms = u16(p, 4)
            c.equal(alarms >> samples, 0, "block %d set %d alarm bits beyond the samples" % (block, k))
            values = [i16(p, 8 + 2 * i) for i in range(15)]
            for i in range(samples):
                in_alarm = bool(alarms & (1 << i))
                alarm_seen |= in_alarm
                c.check(in_alarm == (values[i] >= MAIN["a1"]),
                        "block %d set %d sample %d = %d alarm bit %d against A1 %d"
                        % (block, k, i, values[i], in_alarm, MAIN["a1"]))
    c.check(alarm_seen, "some logger sample is marked as alarm")

    # Erasing the logger with service function 7.
    client.write(127, b"\x07", "logger erase")
    p = client.read(36)
    if p is not None:
        c.equal(u16(p, 2), 0, "logger blocks after an erase")


def check_factory_setup(client):
    c = client.checks
    c.begin("factory setup")
    payload = struct.pack("<II", 87654321, now_seconds()) + customer_bytes("FACTORY1")
    payload += bytes([0xAA]) + bytes(9)
    client.write(30, payload)
    check_identity(client, 87654321, "FACTORY1")


def check_robustness(client):
    """Requests a careful instrument ignores, and selectors out of range."""
    c = client.checks
    sim = client.sim
    c.begin("robustness")
    bad = bytearray(frame(2, FLAGS_READ))
    bad[-1] ^= 0x01
    c.check(sim.receive(sim.send(bad), SILENCE_WINDOW) is None, "a request with a bad CRC is not answered")
    c.check(sim.silent(2, RESPONSE_BIT), "a frame with the response bit is not answered")
    client.read(2, what="read after ignored frames")

    for obj, selector in ((34, struct.pack("<H", 0)), (34, struct.pack("<H", 60000)),
                          (37, struct.pack("<H", 0)), (37, struct.pack("<H", 9999)),
                          (38, b"\x00"), (38, b"\x09")):
        sim.exchange(obj, FLAGS_READ, selector, SILENCE_WINDOW)
        client.read(2, what="read after object %d selector %s" % (obj, selector.hex()))

    # A frame that announces too much payload, cut short: the line recovers.
    sim.send(HEADER + bytes([2, 0, 70]) + bytes(10))
    answered = False
    for _ in range(10):
        answer = sim.exchange(2, FLAGS_READ, b"", SILENCE_WINDOW)
        if answer is not None and answer.crc_ok and answer.obj == 2:
            answered = True
            break
    c.check(answered, "answers again after a frame with an impossible length")
    sim.drain()


def check_special_functions(client):
    c = client.checks
    c.begin("special functions")
    for code in (2, 6, 3, 4, 1, 5):
        client.write(127, bytes([code]), "special function %d" % code)


def run_main(program, checks):
    with Sim(program, MAIN) as sim:
        client = Client(sim, checks)
        check_reads(client)
        check_writes(client)
        check_status_objects(client)
        check_events(client)
        check_logger(client)
        check_factory_setup(client)
        check_robustness(client)
        check_special_functions(client)
        checks.begin("shutdown")
        checks.equal(sim.stop(), 0, "exit code after SIGTERM")


# ---------------------------------------------------------------------------
# Scenarios: bump test, calibration failure, logger blocks, event counts.

def bump_results(client, reads):
    results = []
    for _ in range(reads):
        p = client.read(6)
        if p is None:
            break
        results.append(tuple(i16(p, k) for k in (0, 2, 4)))
    return results


def check_scenarios(program, checks):
    checks.begin("bump test running")
    with Sim(program, {"bump": "running", "bump_reads": 2}) as sim:
        client = Client(sim, checks)
        p = client.read(5)
        if p is not None:
            checks.equal(struct.unpack_from("b", p, 0)[0], 1, "bump state while running")
        results = bump_results(client, 3)
        checks.check(len(results) == 3 and all(0 in r for r in results[:2])
                     and all(v > 0 for v in results[2]),
                     "two running bump results, then a finished one: %r" % results)

    for bump, state_check, result_check in (
            ("needcal", lambda s: s == 0, None),
            ("error", lambda s: s < 0, lambda r: 0 not in r and min(r) < 0)):
        checks.begin("bump test " + bump)
        with Sim(program, {"bump": bump}) as sim:
            client = Client(sim, checks)
            p = client.read(5)
            if p is not None:
                state = struct.unpack_from("b", p, 0)[0]
                checks.check(state_check(state), "bump state %d" % state)
            results = bump_results(client, 1)
            if result_check and results:
                checks.check(result_check(results[0]), "bump result %r" % (results[0],))

    checks.begin("live value of an offset range")
    with Sim(program, {"range_begin": -100, "range_end": 400, "value": 50, "value_swing": 0}) as sim:
        p = Client(sim, checks).read(7)
        if p is not None:
            checks.near(shown_value(p, -100, 400), 50, 1, "shown value of a range from -100")

    checks.begin("calibration error")
    with Sim(program, {"cal_reads": 1, "cal_result": "error"}) as sim:
        client = Client(sim, checks)
        client.write(9, struct.pack("<h", 100))
        states = [struct.unpack_from("b", p, 0)[0] for p in (client.read(10), client.read(10)) if p]
        checks.check(len(states) == 2 and states[0] == 0 and states[1] < 0,
                     "one running read, then an error: %r" % states)

    checks.begin("logger blocks")
    shapes = {"logger_blocks": 5, "logger_interval": 30, "block2": "state=3",
              "block3": "sets=5", "block4": "samples=12 gap=3600",
              "block5": "set_state=2 alarm=yes"}
    with Sim(program, shapes) as sim:
        client = Client(sim, checks)
        headers = {}
        for block in range(1, 6):
            p = client.read(37, struct.pack("<H", block), "block %d" % block)
            if p is None:
                return
            headers[block] = (u16(p, 0), u32(p, 9), u16(p, 13), p[15], p[16])
        checks.equal(headers[2][0], 3, "state of a block that may not be read")
        checks.equal(headers[3][4], 5, "set count of a block with too many sets")
        checks.equal(headers[4][3], 12, "samples of a short block")
        end3 = headers[3][1] + headers[3][3] * headers[3][2]
        checks.near(headers[4][1] - end3, 3600, 30, "an hour without logging before block 4")
        p = client.read(37, struct.pack("<H", 5), "block 5")
        p = client.read(38, b"\x01", "block 5 set 1")
        if p is not None:
            checks.equal(p[0], 2, "set state of an invalid set")

    checks.begin("event counts")
    with Sim(program, dict(MAIN, events=600, max_events=1000)) as sim:
        client = Client(sim, checks)
        p = client.read(35)
        if p is not None:
            checks.equal((u16(p, 2), u16(p, 6)), (600, 1000), "a log fuller than 513 events")
        for number in (1, 513, 514, 600):
            p = client.read(34, struct.pack("<H", number), "event %d" % number)
            if p is not None:
                event_plausible(checks, number, p, now_seconds())
    with Sim(program, {"events": 0}) as sim:
        client = Client(sim, checks)
        p = client.read(35)
        if p is not None:
            checks.equal(u16(p, 2), 0, "an empty event log")


# ---------------------------------------------------------------------------
# Faults, each seen on the wire.

def check_faults(program, checks):
    checks.begin("no_answer")
    with Sim(program, {"no_answer": "always"}) as sim:
        checks.check(sim.silent(2), "no answer when always deaf")
    with Sim(program, {"no_answer": 1}) as sim:
        checks.check(sim.silent(2), "the first request is not heard")
        Client(sim, checks).read(2, what="the second request")

    checks.begin("bad_crc")
    with Sim(program, {"bad_crc": "always"}) as sim:
        answer = sim.exchange(2, FLAGS_READ)
        if checks.check(answer is not None, "a garbled answer still arrives"):
            checks.check(not answer.crc_ok, "its CRC is wrong")
            checks.equal((answer.obj, len(answer.payload)), (2, 21), "its frame is whole")

    checks.begin("error_report")
    with Sim(program, {"error_report": "always"}) as sim:
        answer = sim.exchange(3, FLAGS_READ)
        Client(sim, checks).framed(answer, ERROR_REPORT, "error report")
    with Sim(program, {"error_report": 1, "signal_modes": 0x95, "bleep_interval": 30}) as sim:
        client = Client(sim, checks)
        answer = sim.exchange(31, FLAGS_WRITE, bytes(16))
        client.framed(answer, ERROR_REPORT, "write answered by an error report")
        p = client.read(31)
        if p is not None:
            checks.equal((p[0], p[1]), (0x95, 30), "signals after a write that was refused")

    checks.begin("wrong_object")
    with Sim(program, {"wrong_object": 1, "signal_modes": 0x95, "bleep_interval": 30}) as sim:
        client = Client(sim, checks)
        answer = sim.exchange(31, FLAGS_WRITE, bytes(16))
        if checks.check(answer is not None and answer.crc_ok, "a good frame answers the write"):
            checks.check(answer.obj in (2, 3, 7, 35), "of another object: %r" % answer.obj)
        p = client.read(31)
        if p is not None:
            checks.equal((p[0], p[1]), (0x95, 30), "signals after a write answered for another object")

    checks.begin("fault_objects")
    with Sim(program, {"error_report": "always", "fault_objects": "3,7"}) as sim:
        seen = {}
        for obj in (2, 3, 4, 7):
            answer = sim.exchange(obj, FLAGS_READ)
            seen[obj] = answer.obj if answer else None
        checks.equal(seen, {2: 2, 3: ERROR_REPORT, 4: 4, 7: ERROR_REPORT}, "objects hit")

    checks.begin("echo")
    with Sim(program, {"echo": "always"}) as sim:
        answer = sim.exchange(2, FLAGS_READ)
        if Client(sim, checks).framed(answer, 2, "answer behind an echo"):
            checks.equal(answer.echoes, [frame(2, FLAGS_READ)], "the request comes back first")

    checks.begin("stray")
    with Sim(program, {"stray": "always", "stray_bytes": 3}) as sim:
        answer = sim.exchange(2, FLAGS_READ)
        if Client(sim, checks).framed(answer, 2, "answer behind stray bytes"):
            checks.equal(len(answer.junk), 3, "stray bytes before the header")

    checks.begin("split")
    with Sim(program, {"split": "always", "split_pieces": 3, "split_pause_ms": 150}) as sim:
        answer = sim.exchange(4, FLAGS_READ)
        if Client(sim, checks).framed(answer, 4, "split answer"):
            # Two pauses of 150 ms between three pieces.
            spread = answer.last_byte_delay() - answer.first_byte_delay()
            checks.check(len(answer.chunk_times) >= 2 and spread >= 0.25,
                         "an answer in three pieces arrives over %.0f ms" % (spread * 1e3))

    checks.begin("late")
    with Sim(program, {"late": "always", "late_ms": 450}) as sim:
        answer = sim.receive(sim.send(frame(2, FLAGS_READ)), 1.5)
        if Client(sim, checks).framed(answer, 2, "late answer"):
            delay = answer.first_byte_delay()
            checks.check(delay > ATTEMPT_WINDOW, "a late answer misses the attempt: %.3f s" % delay)

    checks.begin("clock_readonly")
    with Sim(program, {"clock_readonly": "on", "clock_offset": 60}) as sim:
        client = Client(sim, checks)
        client.write(3, struct.pack("<i", now_seconds()))
        p = client.read(3)
        if p is not None:
            checks.near(i32(p, 0) - now_seconds(), 60, 2, "a read-only clock keeps its offset")

    checks.begin("line_drop")
    with Sim(program, {"line_drop_after": 3, "line_drop_for": 2}) as sim:
        client = Client(sim, checks)
        for n in range(1, 4):
            client.read(34, struct.pack("<H", n), "log request %d before the drop" % n)
        checks.check(sim.silent(34, FLAGS_READ, struct.pack("<H", 4)), "first request lost")
        checks.check(sim.silent(2), "second request lost")
        client.read(2, what="the line back")
    with Sim(program, {"line_drop_after": 1, "line_drop_for": 0}) as sim:
        client = Client(sim, checks)
        client.read(36, what="the one log request before the drop")
        client.read(2, what="other objects until the next log request")
        checks.check(sim.silent(37, FLAGS_READ, struct.pack("<H", 1)), "the next log request is lost")
        checks.check(sim.silent(2) and sim.silent(3), "the line stays gone")

    checks.begin("probability and seed")
    patterns = []
    for _ in range(2):
        with Sim(program, {"bad_crc": 0.5, "seed": 11}) as sim:
            pattern = []
            for _ in range(40):
                answer = sim.exchange(7, FLAGS_READ)
                pattern.append(bool(answer and answer.crc_ok))
            patterns.append(pattern)
    good = patterns[0].count(True)
    checks.check(10 <= good <= 30, "half of the answers garbled: %d of 40 good" % good)
    checks.equal(patterns[1], patterns[0], "the same seed garbles the same answers")


# ---------------------------------------------------------------------------
# Line timing: one exchange at 9600 baud.

def check_pacing(program, checks):
    checks.begin("pacing")
    with Sim(program, {}, pacing=True) as sim:
        client = Client(sim, checks)
        answer = sim.exchange(4, FLAGS_READ)
        if client.framed(answer, 4, "paced read"):
            # 38 bytes of 10 bits each take about 40 ms at 9600 baud.
            line_time = len(answer.raw) * 10 / 9600.0
            spread = answer.last_byte_delay() - answer.first_byte_delay()
            checks.check(spread >= 0.7 * line_time,
                         "answer bytes spread over %.1f ms, line time %.1f ms"
                         % (spread * 1e3, line_time * 1e3))
            checks.check(answer.last_byte_delay() < ATTEMPT_WINDOW,
                         "answer complete within one attempt: %.1f ms" % (answer.last_byte_delay() * 1e3))


def self_test(checks):
    checks.begin("own codec")
    checks.equal(crc16(b"123456789"), 0x29B1, "CRC check value")
    checks.equal(frame(1, FLAGS_WRITE).hex(), "56594b34016000a59f", "connect request")
    checks.equal(frame(2, FLAGS_READ).hex(), "56594b34020000f7e5", "identity read request")


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    program = sys.argv[1]
    checks = Checks()
    started = time.monotonic()
    self_test(checks)
    run_main(program, checks)
    check_scenarios(program, checks)
    check_faults(program, checks)
    check_pacing(program, checks)
    print("%d checks, %d failed, %.1f s" % (checks.count, len(checks.failures),
                                            time.monotonic() - started))
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
