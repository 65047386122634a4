"""The module as Python sees it: signatures, docstrings, its stub and its number conversions."""
import ast
import inspect
import os
import pydoc

import pytest

import varne

STUB = os.path.join(os.path.dirname(varne.__file__), "varne.pyi")


def test_members_have_signatures_and_docstrings():
    signature = inspect.signature(varne.Browser.ClickLink)
    assert str(signature) == (
        "(self, Document: varne.Object, LinkText: str, IdentMethod: int = 3, Occurrence: int = 0) -> int")
    text = pydoc.render_doc(varne.Browser.ClickLink, renderer=pydoc.plaintext)
    assert "IdentMethod (BrowserIdentType, optional, default 3 = brwInnerText)" in text
    assert "-2: IdentMethod is not 1, 2 or 3" in text
    assert str(inspect.signature(varne.ExcelConn.SaveWorkbook)) == (
        "(self, Filename: str, DefaultSheet: str = '') -> None")
    for cls in (varne.Browser, varne.Config, varne.Logging, varne.Timing, varne.ExcelConn):
        assert cls.__doc__ and issubclass(cls, varne.Object)
        for name in [n for n in vars(cls) if n[0].isupper()]:
            assert getattr(cls, name).__doc__, name


def test_objects_are_instances_of_their_class_and_calls_keep_working():
    timing = varne.CreateObject("Varne.Timing")
    assert type(timing) is varne.Timing
    assert str(inspect.signature(timing.GetLapsed)) == "(TimingName: str) -> int"
    timing.StartTiming(TimingName="a")
    assert timing.getlapsed("a") == 0  # any case, through late binding
    with pytest.raises(TypeError):
        len(timing)


def test_the_stub_declares_every_class_and_member_with_its_signature():
    with open(STUB, encoding="utf-8") as stub:
        tree = ast.parse(stub.read())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    for cls in (varne.Browser, varne.Config, varne.Logging, varne.Timing, varne.ExcelConn):
        declared = {node.name: node for node in classes[cls.__name__].body if isinstance(node, ast.FunctionDef)}
        members = [name for name in vars(cls) if name[0].isupper()]
        assert sorted(declared) == sorted(members)
        for name, node in declared.items():
            arguments = [argument.arg for argument in node.args.args]
            assert arguments == list(inspect.signature(getattr(cls, name)).parameters)


@pytest.mark.parametrize("value", [2**2000, -2**2000, float("inf")], ids=["2**2000", "-2**2000", "inf"])
def test_numbers_too_large_to_hold_raise_overflow(value):
    timing = varne.CreateObject("Varne.Timing")
    with pytest.raises(varne.AutomationError) as raised:
        timing.StartTiming(value)
    assert (raised.value.number, raised.value.description) == (
        6, "Timing.StartTiming: TimingName: expected a string, got a number too large to hold (overflow)")
    excel = varne.CreateObject("Varne.ExcelConn")
    sheets = excel.GetXL().Sheets
    with pytest.raises(varne.AutomationError) as raised:
        sheets.Item(value)
    assert raised.value.number == 6


def test_texts_with_lone_surrogates_come_back_as_they_went_in():
    config = varne.CreateObject("Varne.Config")
    config.SetItem("k", "a\ud800b\udc00")
    assert config.GetItem("k") == "a\ud800b\udc00"
    timing = varne.CreateObject("Varne.Timing")
    timing.StartTiming("x\udfff")
    assert timing.GetLapsed("x\udfff") == 0 and timing.GetLapsed("x\ufffd") == -1
