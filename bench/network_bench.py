"""Write2Led-equivalent time over tcp:// and rfc2217:// (the library against Debian's ser2net
serving a pty), beside the same frames on a pty and through pyserial's socket:// and rfc2217://;
and the time from a restarted server's return to the first complete frame. Prints Markdown."""

import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "python"))
import ledsign  # noqa: E402
from network import Ser2net, Sign, wait_listening  # noqa: E402

CALLS = 30
TEXT = "AB#D"
# What elvane's encoder makes of "AB#D" at 9600 baud: ten writes, 1 ms after each frame.
PIECES = [b"\x1b", b"\x01", b"\x04", b"AB", b"\r", None, b"\x1b", b"\x01", b"\x05", b"D", b"\r", None]
FRAMES = b"\x1b\x01\x04AB\r\x1b\x01\x05D\r"


def median_ms(call):
    times = []
    for _ in range(CALLS):
        started = time.perf_counter()
        call()
        times.append((time.perf_counter() - started) * 1000)
    return statistics.median(times), max(times)


def library_row(port):
    time.sleep(0.5)  # ser2net lets the device go a moment after the last connection to it closed
    with ledsign.open("elvane", port, "9600,8,NONE,1") as sign:
        return median_ms(lambda: sign.write(TEXT))


def pyserial_row(url):
    import serial  # Debian's python3-serial

    time.sleep(0.5)
    result = {}

    def run():
        try:
            line = serial.serial_for_url(url, baudrate=9600, timeout=1)
        except Exception as error:  # noqa: BLE001 - any failure is the row's result
            result["error"] = f"{type(error).__name__}: {error}"
            return

        def call():
            for piece in PIECES:
                if piece is None:
                    time.sleep(0.001)
                else:
                    line.write(piece)
                    line.flush()

        result["times"] = median_ms(call)
        line.close()

    worker = threading.Thread(target=run, daemon=True)
    worker.start()
    worker.join(30)
    return result.get("times") or result.get("error", "no answer within 30 s")


def comeback_ms(server, port):
    time.sleep(0.5)
    with ledsign.open("elvane", port, "9600,8,NONE,1") as sign:
        sign.write(TEXT)
        server.kill()
        server.process = None
        stopped_writing = threading.Event()
        returned = {}

        def writer():
            while not stopped_writing.is_set():
                try:
                    sign.write(TEXT)
                    returned.setdefault("at", time.monotonic())
                    return
                except ledsign.WriteFailedError:
                    time.sleep(0.02)

        thread = threading.Thread(target=writer)
        thread.start()
        time.sleep(0.5)
        server.start()
        back = time.monotonic()
        thread.join(5)
        stopped_writing.set()
        return (returned["at"] - back) * 1000 if "at" in returned else float("nan")


def main():
    rows = []
    pty_sign = Sign()
    rows.append(("library, pty", library_row(pty_sign.path)))
    pty_sign.close()
    sign = Sign()
    server = Ser2net(sign.path)
    rows.append(("library, tcp://", library_row(server.raw)))
    rows.append(("library, rfc2217://", library_row(server.rfc2217)))
    rows.append(("pyserial, socket://", pyserial_row(f"socket://127.0.0.1:{server.raw_port}")))
    rows.append(("pyserial, rfc2217://", pyserial_row(f"rfc2217://127.0.0.1:{server.rfc2217_port}")))
    comeback = [(kind, comeback_ms(server, getattr(server, kind))) for kind in ("raw", "rfc2217")]
    server.close()
    sign.close()

    print("| way to the sign | median per call (ms) | worst (ms) |")
    print("|---|---|---|")
    for name, figures in rows:
        if isinstance(figures, tuple):
            print(f"| {name} | {figures[0]:.1f} | {figures[1]:.1f} |")
        else:
            print(f"| {name} | {figures} | |")
    print()
    for kind, ms in comeback:
        print(f"- {kind}: the first complete frame {ms:.0f} ms after ser2net listened again "
              "(a host writing every 20 ms; reconnects are at most a second apart)")


if __name__ == "__main__":
    main()
