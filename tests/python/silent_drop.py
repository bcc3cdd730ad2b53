"""Run by test_network.py inside `unshare -n`: a path to ser2net that drops silently. Exits 0
when each write while dropped gave -1 within its deadline and nothing of it arrived later."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ledsign  # noqa: E402
from network import Ser2net, Sign  # noqa: E402

subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
# ser2net looks its addresses up with AI_ADDRCONFIG, which counts no 127.x address: one more.
subprocess.run(["ip", "addr", "add", "10.254.0.1/32", "dev", "lo"], check=True)
failures = []
for kind in ("raw", "rfc2217"):
    # A server of its own each: the dropped connection's server still holds its device.
    sign = Sign()
    server = Ser2net(sign.path)
    try:
        port = server.raw_port if kind == "raw" else server.rfc2217_port
        with ledsign.open("elvane", getattr(server, kind), "9600,8,NONE,1") as elvane:
            elvane.write("AB")
            sign.received()
            subprocess.run(["nft", "-f", "-"], check=True, text=True,
                           input=f"table inet silent {{\n chain input {{\n type filter hook input priority 0;\n"
                                 f" tcp dport {port} drop\n tcp sport {port} drop\n }}\n}}\n")
            started = time.monotonic()
            try:
                elvane.write("CD")
                failures.append(f"{kind}: a write into a dropped path gave 1")
            except ledsign.WriteFailedError as error:
                took = time.monotonic() - started
                if took > 2.5:
                    failures.append(f"{kind}: -1 after {took:.2f} s, past the deadline")
                print(f"{kind}: -1 after {took:.2f} s: {error}")
            subprocess.run(["nft", "delete", "table", "inet", "silent"], check=True)
            late = sign.received(1.0)
            if late:
                failures.append(f"{kind}: {late.hex(' ')} arrived after the path came back")
    finally:
        server.close()
        sign.close()
print("\n".join(failures))
sys.exit(1 if failures else 0)
