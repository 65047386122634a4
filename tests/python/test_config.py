"""Config through the Python module: settings files on disk, results and errors."""
import os
import pathlib
import tempfile

import pytest

import varne


@pytest.fixture
def config():
    return varne.CreateObject("Varne.Config")


def test_loads_and_saves_the_example(tmp_path, config):
    source = tmp_path / "rig.cfg"
    source.write_bytes(b"# test rig\r\n  Server = alpha  \r\nRetries=3\r\nserver=beta")
    assert config.Load(str(source)) == 0
    assert (config.GetItem("SERVER"), config.GetItem("retries")) == ("beta", "3")
    target = tmp_path / "out.cfg"
    assert config.Save(str(target)) is None
    assert target.read_bytes() == b"SERVER=beta\r\nRETRIES=3\r\n"


def test_empty_names_and_missing_files(tmp_path, config):
    config.SetItem("stale", "1")
    assert config.Load(str(tmp_path / "missing.cfg")) == -1
    assert config.GetItem("stale") == ""
    assert config.Load("") == -1
    assert config.Save("") == -1
    assert config.Load(str(tmp_path)) == -1


def test_a_line_end_past_32765_overflows(tmp_path, config):
    source = tmp_path / "long.cfg"
    source.write_bytes(b"a=1\r\n" + b"b=" + b"x" * 40000)
    with pytest.raises(varne.AutomationError) as raised:
        config.Load(str(source))
    assert (raised.value.number, raised.value.description) == (6, "Overflow")
    assert (config.GetItem("a"), config.GetItem("b")) == ("1", "")


def test_save_refuses_a_folder(tmp_path, config):
    config.SetItem("k", "v")
    with pytest.raises(varne.AutomationError) as raised:
        config.Save(str(tmp_path))
    assert (raised.value.number, raised.value.description) == (
        75, f"Path/File access error: cannot replace '{tmp_path}' (it is a folder)")


def test_save_refuses_an_existing_file_it_may_not_write(config):
    config.SetItem("k", "v")
    # A folder that a plain user can reach, unlike pytest's own; permission bits bind root
    # only through its effective user.
    with tempfile.TemporaryDirectory() as folder:
        os.chmod(folder, 0o777)
        locked = pathlib.Path(folder) / "locked.cfg"
        locked.write_bytes(b"OLD=1\r\n")
        locked.chmod(0o444)
        was_root = os.geteuid() == 0
        if was_root:
            os.seteuid(65534)
        try:
            with pytest.raises(varne.AutomationError) as raised:
                config.Save(str(locked))
        finally:
            if was_root:
                os.seteuid(0)
        assert (raised.value.number, raised.value.description) == (
            70, f"Permission denied: cannot replace '{locked}' (Permission denied)")
        assert locked.read_bytes() == b"OLD=1\r\n"
        assert os.listdir(folder) == ["locked.cfg"]


def test_bytes_of_another_code_page_come_back_as_they_were(tmp_path, config):
    source = tmp_path / "latin.cfg"
    source.write_bytes(b"CAF\xc9=cr\xe8me\r\nNAME=Gr\xc3\xbc\xc3\x9fe\r\n")
    assert config.Load(str(source)) == 0
    # As Python's own "surrogateescape" reads them, so the two sides agree on such text.
    assert config.GetItem("caf\udcc9") == "cr\udce8me"
    assert config.GetItem("name") == "Grüße"
    assert config.Save(str(source)) is None
    assert source.read_bytes() == b"CAF\xc9=cr\xe8me\r\nNAME=Gr\xc3\xbc\xc3\x9fe\r\n"

    log = varne.CreateObject("Varne.Logging")
    log.StartLog(str(tmp_path / "run.log"))
    log.AppendLog(source.read_bytes().decode("utf-8", "surrogateescape").splitlines()[0])
    log.EndLog()
    assert b"\r\nCAF\xc9=cr\xe8me\r\n\r\n" in (tmp_path / "run.log").read_bytes()
