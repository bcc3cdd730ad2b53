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
sign = Sign()
server = Ser2net(sign.path)
failures = []
try:
    for kind in ("raw", "rfc2217"):
        port = server.raw_port if kind == "raw" else server.rfc2217_port
        with ledsign.open("elvane", getattr(server, kind), "9600,8,NONE,1") as elvane:
            elvane.write("AB")
            sign.received()
            subprocess.run(["nft", "add table inet drop; add chain inet drop input { type filter hook input priority 0; };"
                            f" add rule inet drop input tcp dport {port} drop; add rule inet drop input tcp sport {port} drop"],
                           shell=False, check=True) if False else subprocess.run(
                ["nft", "-f", "-"], input=f"table inet drop {{ chain input {{ type filter hook input priority 0;"
                f" tcp dport {port} drop; tcp sport {port} drop; }} }}\n", text=True, check=True)
            started = time.monotonic()
            try:
                elvane.write("CD")
                failures.append(f"{kind}: a write into a dropped path gave 1")
            except ledsign.WriteFailedError as error:
                took = time.monotonic() - started
                if took > 2.5:
                    failures.append(f"{kind}: -1 after {took:.2f} s, past the deadline")
                print(f"{kind}: -1 after {took:.2f} s: {error}")
            subprocess.run(["nft", "delete", "table", "inet", "drop"], check=True)
            late = sign.received(1.0)
            if late:
                failures.append(f"{kind}: {late.hex(' ')} arrived after the path came back")
finally:
    server.close()
print("\n".join(failures))
sys.exit(1 if failures else 0)
