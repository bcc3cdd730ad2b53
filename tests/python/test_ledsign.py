"""The Python package over the built library, on ptys."""

import logging
import os

import pytest

import ledsign
from ledsign.plugin import Plugin, port_settings

ELVANE_AB_D = bytes.fromhex("1B 01 04 41 42 0D 1B 01 05 44 0D")
ELVANE_CHINESE_OK = bytes.fromhex("1B 01 04 D6 D0 CE C4 0D 1B 01 05 4F 4B 0D")
BRAVA_CHINESE_OK = bytes.fromhex("05 01 03 01 00 58 20 04 D6 D0 CE C4 05 01 03 02 00 58 20 02 4F 4B")


def test_two_signs_of_one_model_and_one_of_another(lines):
    first, second, third = lines(), lines(), lines()
    with ledsign.open("elvane", first.path) as a, ledsign.open("elvane", second.path) as b, \
            ledsign.open("brava", third.path, "9600,8,NONE,1") as c:
        a.write("AB#D")
        b.write("中文#OK")
        c.write("\u4e2d\u6587#OK".encode("gbk"))
        a.clear()
    assert first.read(19) == ELVANE_AB_D + bytes.fromhex("1B 01 04 0D 1B 01 05 0D")
    assert second.read(14) == ELVANE_CHINESE_OK
    assert third.read(22) == BRAVA_CHINESE_OK


def test_a_character_gbk_lacks_raises_before_anything_is_sent(lines):
    line = lines()
    with ledsign.open("elvane", line.path) as sign:
        with pytest.raises(UnicodeEncodeError):
            sign.write("Hi \U0001F600")
        with pytest.raises(ValueError, match="NUL"):
            sign.write(b"A\0B")
    assert line.quiet() == b""


@pytest.mark.parametrize("case", ["missing", "in use", "speed", "unknown model", "malformed"])
def test_each_failure_raises_its_class_with_the_reason(lines, case):
    line = lines()
    holder = ledsign.open("elvane", line.path) if case == "in use" else None
    expected = {
        "missing": (ledsign.OpenFailedError, "/dev/nosuchtty open failed: open: No such file or directory (2)"),
        "in use": (ledsign.OpenFailedError, "open failed: flock: Resource temporarily unavailable (11)"),
        "speed": (ledsign.SettingsRefusedError, "open failed: settings the line cannot take"),
        "unknown model": (ValueError, 'unknown model "zeta"'),
        "malformed": (ValueError, 'malformed settings "9600,8,NONE"'),
    }[case]
    arguments = {
        "missing": ("elvane", "/dev/nosuchtty", None),
        "in use": ("brava", line.path, None),
        "speed": ("elvane", line.path, "12345,8,NONE,1"),
        "unknown model": ("zeta", line.path, None),
        "malformed": ("elvane", line.path, "9600,8,NONE"),
    }[case]
    with pytest.raises(expected[0]) as raised:
        ledsign.open(*arguments)
    assert expected[1] in str(raised.value)
    if holder:
        holder.close()


def test_a_lost_line_raises_write_failed_with_the_reason(lines, port_link):
    line = lines()
    link = port_link(line.path)
    with ledsign.open("elvane", link) as sign:
        line.close()
        os.unlink(link)
        with pytest.raises(ledsign.WriteFailedError, match=f"^{link} lost: "):
            sign.write("AB")
        with pytest.raises(ledsign.LedSignError):
            sign.clear()


def test_the_context_manager_releases_the_port(lines):
    line = lines()
    with ledsign.open("elvane", line.path) as sign:
        assert "elvane" in repr(sign)
    assert "closed" in repr(sign)
    with pytest.raises(ValueError, match="closed"):
        sign.write("A")
    with ledsign.open("brava", line.path):  # free again
        pass


def test_the_trace_goes_to_logging_only_when_enabled(lines, caplog):
    line = lines()
    with ledsign.open("elvane", line.path) as sign:
        with caplog.at_level(logging.INFO, logger="ledsign"):
            sign.write("A")
        assert caplog.records == []
        with caplog.at_level(logging.DEBUG, logger="ledsign"):
            sign.write("A")
    messages = [record.getMessage() for record in caplog.records]
    assert [message.split(" ms ", 1)[1] for message in messages] == [
        "write 1B = 1", "write 01 = 1", "write 04 = 1", "write 41 = 1", "write 0D = 1", "pause 1"]
    assert all(record.name == "ledsign" and record.levelno == logging.DEBUG for record in caplog.records)


def test_models_lists_every_model_with_its_attributes():
    found = {model.name: model for model in ledsign.models()}
    assert list(found) == ["brava", "dorun", "cresto", "elvane"]
    assert found["elvane"] == ledsign.ModelInfo("elvane", 24, 24, 12, True, "4800,8,NONE,2", "上海")
    assert found["dorun"].two_rows is False


# The cookbook's declarations for the nine-export plug-ins, used as the host guide shows them.
def test_the_plugin_cookbook_declarations_drive_a_plugin(lines, port_link):
    line = lines()
    plugin = Plugin(os.path.join(os.environ["LEDSIGN_PLUGIN_DIR"], "libelvane.so"))
    assert plugin.GetVer() == 3.0
    nine = port_link(line.path)
    assert len(nine) == 9
    plugin.InitLed(port_settings(nine, 9600))
    assert plugin.OpenLed() == 1
    assert plugin.Write2Led("中文#OK".encode("gbk")) == 1
    assert line.read(14) == ELVANE_CHINESE_OK
    plugin.CloseLed()
    assert plugin.IsLedOpened() == 0
    with pytest.raises(ValueError, match="at most 9"):
        port_settings(nine + "0")
