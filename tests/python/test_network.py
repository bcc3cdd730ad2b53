"""Signs behind network serial servers: ser2net serving a pty over raw TCP and RFC 2217."""

import grp
import os
import shutil
import subprocess
import sys
import termios
import time

import pytest

import ledsign
from network import RefusingServer, Ser2net, Sign

pytestmark = pytest.mark.skipif(shutil.which("ser2net") is None and os.environ.get("CI") != "true",
                                reason="ser2net is not installed")

ELVANE_AB = bytes.fromhex("1B 01 04 41 42 0D")
BRAVA_AB_D = bytes.fromhex("05 01 03 01 00 58 20 02 41 42 05 01 03 02 00 58 20 01 44")
DEADLINE_1_BYTE = 2.0  # twice a byte's line time and 2 s


@pytest.fixture
def served():
    sign = Sign()
    server = Ser2net(sign.path)
    yield sign, server
    server.close()
    sign.close()


@pytest.mark.parametrize("kind", ["raw", "rfc2217"])
def test_frames_arrive_byte_exact_with_their_pauses(served, kind):
    sign, server = served
    with ledsign.open("brava", getattr(server, kind), "9600,8,NONE,1") as brava:
        started = time.monotonic()
        brava.write("AB#D")
        took = time.monotonic() - started
        # 19 bytes at 9600 baud take about 24 ms on the line; the two 100 ms pauses come on top.
        assert 0.2 <= took < 0.4
    chunks = sign.read()
    assert b"".join(chunk for _, chunk in chunks) == BRAVA_AB_D
    row2 = next(at for at, chunk in chunks if chunk.startswith(b"\x05\x01\x03\x02") or b"\x05\x01\x03\x02" in chunk)
    assert row2 - chunks[0][0] >= 0.09, "the pause after row 1 did not reach the sign"


def test_rfc2217_sets_the_signs_line(served):
    sign, server = served
    for settings, speed, two_stop_bits in (("4800,8,NONE,2", termios.B4800, True), ("9600,8,NONE,1", termios.B9600, False)):
        with ledsign.open("elvane", server.rfc2217, settings) as elvane:
            elvane.write("AB")
            line = termios.tcgetattr(sign.slave)
            assert line[5] == speed and bool(line[2] & termios.CSTOPB) == two_stop_bits, settings
        assert sign.received() == ELVANE_AB


def test_a_server_that_refuses_the_settings_gives_settings_refused():
    server = RefusingServer()
    with pytest.raises(ledsign.SettingsRefusedError, match="the server set other line settings than asked"):
        ledsign.open("elvane", server.url, "12345,8,NONE,1")
    server.close()


@pytest.mark.parametrize("kind", ["raw", "rfc2217"])
def test_a_stopped_server(served, kind):
    sign, server = served
    with ledsign.open("elvane", getattr(server, kind), "9600,8,NONE,1") as elvane:
        elvane.write("AB")
        assert sign.received() == ELVANE_AB
        server.stop()
        started = time.monotonic()
        try:
            elvane.write("CD")
            result = 1
        except ledsign.WriteFailedError:
            result = -1
        took = time.monotonic() - started
        assert took < DEADLINE_1_BYTE + 0.5
        server.resume()
        late = sign.received(0.5)
        if kind == "rfc2217":
            # The server could not answer, so nothing of the write went out: nothing comes late.
            assert result == -1 and late == b""
        else:
            # A stopped server's host still takes the bytes; pacing bounds them to the line's rate.
            assert late in (b"", bytes.fromhex("1B 01 04 43 44 0D"))
        deadline = time.monotonic() + 3
        while True:
            try:
                elvane.write("EF")
                break
            except ledsign.WriteFailedError:
                assert time.monotonic() < deadline, "no comeback after the server resumed"
                time.sleep(0.1)
        assert sign.received().endswith(bytes.fromhex("1B 01 04 45 46 0D"))


@pytest.mark.parametrize("kind", ["raw", "rfc2217"])
def test_a_killed_and_restarted_server(served, kind):
    sign, server = served
    reported = []
    with ledsign.open("elvane", getattr(server, kind), "9600,8,NONE,1") as elvane:
        def write(text):
            try:
                elvane.write(text)
                reported.append(text)
                return True
            except ledsign.WriteFailedError:
                return False
        assert write("A0")
        server.kill()
        assert not write("A1")
        assert not write("A2")
        server.start()
        back = time.monotonic()
        count = 3
        while not write(f"A{count}"):
            assert time.monotonic() - back < 1.5, "no frame within 1.5 s of the server's return"
            count += 1
            time.sleep(0.05)
    arrived = sign.received()
    for text in reported:
        assert b"\x1b\x01\x04" + text.encode() + b"\r" in arrived, f"{text} was reported 1 but never arrived"


def test_a_silent_drop_gives_minus_one_within_the_deadline_and_nothing_late():
    """In a network namespace of its own, nftables drops the server's packets for a while."""
    if shutil.which("nft") is None or shutil.which("unshare") is None:
        pytest.skip("nftables or unshare is missing") if os.environ.get("CI") != "true" else pytest.fail("nft missing")
    script = os.path.join(os.path.dirname(__file__), "silent_drop.py")
    run = subprocess.run(["unshare", "-n", sys.executable, script], capture_output=True, text=True, timeout=60,
                         env=os.environ)
    assert run.returncode == 0, run.stdout + run.stderr


def test_a_plugin_through_the_guides_socat_bridge(served, port_link):
    """The host guide's recipe: socat makes a pty for a plug-in, linked under a short name, for the
    dialout group, and carries its bytes to ser2net's raw port."""
    if shutil.which("socat") is None:
        pytest.skip("socat is missing") if os.environ.get("CI") != "true" else pytest.fail("socat missing")
    from ledsign.plugin import Plugin, port_settings

    sign, server = served
    link = port_link("/nonexistent")  # a free short name; socat makes the link itself
    os.unlink(link)
    bridge = subprocess.Popen(["socat", f"PTY,link={link},raw,echo=0,group=dialout,mode=660",
                               f"TCP:127.0.0.1:{server.raw_port}"])
    try:
        deadline = time.monotonic() + 5
        while not os.path.exists(link):
            assert time.monotonic() < deadline, "socat made no link"
            time.sleep(0.02)
        status = os.stat(link)
        assert oct(status.st_mode & 0o777) == "0o660" and grp.getgrgid(status.st_gid).gr_name == "dialout"
        plugin = Plugin(os.path.join(os.environ["LEDSIGN_PLUGIN_DIR"], "libelvane.so"))
        plugin.InitLed(port_settings(link, 9600))
        assert plugin.OpenLed() == 1
        assert plugin.Write2Led(b"AB#D") == 1
        plugin.CloseLed()
        assert sign.received(0.5) == bytes.fromhex("1B 01 04 41 42 0D 1B 01 05 44 0D")
    finally:
        bridge.terminate()
        bridge.wait(5)
