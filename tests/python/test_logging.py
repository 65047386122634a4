"""Logging through the Python module: the file layout on disk, result codes and errors."""
import datetime
import gc
import re

import pytest

import varne

STAMP = r"(\d\d:\d\d:\d\d \d\d/\w{3}/\d{4})"
RULE = "=" * 96


def read_lines(path):
    data = path.read_bytes()
    assert data.endswith(b"\r\n")
    return data[:-2].decode("utf-8").split("\r\n")


def parse_stamp(text):
    return datetime.datetime.strptime(text, "%H:%M:%S %d/%b/%Y")


def test_writes_header_entries_and_footer(tmp_path):
    path = tmp_path / "run.log"
    log = varne.CreateObject("Varne.Logging")
    assert log.StartLog(str(path)) == 0
    assert (log.IsOpen(), log.GetLogName()) == (-1, str(path))
    assert log.AppendLog("Clicked text link 'Next' [0 days 00:00:01]") == 0
    # Each entry is on disk before the call returns.
    assert read_lines(path)[-2] == "Clicked text link 'Next' [0 days 00:00:01]"
    assert log.AppendLog("Zürich → 東京\r\nsecond line") == 0
    log.EndLog()
    assert (log.IsOpen(), log.GetLogName()) == (0, "")

    lines = read_lines(path)
    assert len(lines) == 3 + 3 + 4 + 4
    started = re.fullmatch("Log file started at " + STAMP, lines[0]).group(1)
    assert lines[1:3] == [RULE, ""]
    assert re.fullmatch(STAMP + ":", lines[3]) and re.fullmatch(STAMP + ":", lines[6])
    assert lines[4:6] == ["Clicked text link 'Next' [0 days 00:00:01]", ""]
    assert lines[7:10] == ["Zürich → 東京", "second line", ""]
    assert lines[10:12] == ["", RULE]
    closed = re.fullmatch("Log file closed at " + STAMP, lines[12]).group(1)
    run_time = (parse_stamp(closed) - parse_stamp(started)).total_seconds()
    assert lines[13] == "Log file run time: 0 days 00:00:%02d" % run_time


def test_data_is_written_as_it_is(tmp_path):
    path = tmp_path / "run.log"
    log = varne.CreateObject("Varne.Logging")
    log.StartLog(str(path))
    log.AppendLog("nul\0inside")
    log.AppendLog("x" * (1 << 20))
    log.EndLog()
    data = path.read_bytes()
    assert b":\r\nnul\x00inside\r\n\r\n" in data
    assert b":\r\n" + b"x" * (1 << 20) + b"\r\n\r\n" in data


@pytest.mark.parametrize("name, number, reason", [
    ("missing/run.log", 76, "Path not found: cannot create '{}' (No such file or directory)"),
    (".", 75, "Path/File access error: cannot create '{}' (Is a directory)"),
])
def test_a_file_that_cannot_be_made_leaves_the_log_closed(tmp_path, name, number, reason):
    path = str(tmp_path / name) if name != "." else str(tmp_path)
    log = varne.CreateObject("Varne.Logging")
    with pytest.raises(varne.AutomationError) as raised:
        log.StartLog(path)
    assert (raised.value.number, raised.value.description) == (number, reason.format(path))
    assert (log.IsOpen(), log.GetLogName()) == (0, "")
    assert log.StartLog(str(tmp_path / "good.log")) == 0


def test_release_ends_an_open_log(tmp_path):
    path = tmp_path / "run.log"
    log = varne.CreateObject("Varne.Logging")
    log.StartLog(str(path))
    log.AppendLog("last words")
    del log
    gc.collect()
    lines = read_lines(path)
    assert lines[-6:-3] == ["last words", "", ""]
    assert lines[-3] == RULE
    assert re.fullmatch("Log file run time: 0 days 00:00:0[0-9]", lines[-1])
