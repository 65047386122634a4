# The Python side of the module: library classes with real signatures, collections as
# sequences, and a repr() that says what an object of the page is. Run in the module's namespace,
# after the plumbing (_call, _item, _count, _item_at, _items, _library_class) is defined.
import inspect as _inspect
import typing as _typing

_ANNOTATIONS = {"int": int, "str": str, "bool": bool, "Object": Object, "Any": _typing.Any, "None": None}


def _make_method(class_name, name, doc, params, returns):
    def method(self, *args, **kwargs):
        return _call(self, name, *args, **kwargs)

    method.__name__ = name
    method.__qualname__ = f"{class_name}.{name}"
    method.__module__ = "varne"
    method.__doc__ = doc
    kind = _inspect.Parameter.POSITIONAL_OR_KEYWORD
    parameters = [_inspect.Parameter("self", kind)]
    for param_name, optional, default, annotation in params:
        parameters.append(_inspect.Parameter(param_name, kind, default=default if optional else _inspect.Parameter.empty,
                                             annotation=_ANNOTATIONS[annotation]))
    method.__signature__ = _inspect.Signature(parameters, return_annotation=_ANNOTATIONS[returns])
    return method


def _fill_class(cls, doc, members):
    cls.__doc__ = doc
    for member_name, member_doc, params, returns in members:
        setattr(cls, member_name, _make_method(cls.__name__, member_name, member_doc, params, returns))


def _no_sequence(self, error):
    if error.number != 451:
        return error
    return TypeError(f"{_kind(self) or 'this object'} is not a sequence: it has no length")


def _len(self):
    if _library_class(self) is not None:
        raise TypeError(f"a varne.{_library_class(self)} object has no len()")
    try:
        return _count(self)
    except AutomationError as error:
        raise _no_sequence(self, error) from None


def _getitem(self, index):
    if isinstance(index, int) and not isinstance(index, bool):
        if index < 0:
            index += len(self)
        try:
            return _item_at(self, index)
        except AutomationError as error:
            if error.number not in (9, 424):
                raise
            raise IndexError(str(error)) from error
    return _item(self, index)


def _iter(self):
    if _library_class(self) is not None:
        raise TypeError(f"a varne.{_library_class(self)} object is not iterable")
    try:
        return iter(_items(self))
    except AutomationError as error:
        raise _no_sequence(self, error) from None


def _read(obj, name):
    try:
        return getattr(obj, name)
    except Exception:
        return None


_ELEMENT_INTERFACES = {
    "A": "HTMLAnchorElement", "AREA": "HTMLAreaElement", "IMG": "HTMLImageElement", "FORM": "HTMLFormElement",
    "INPUT": "HTMLInputElement", "BUTTON": "HTMLButtonElement", "SELECT": "HTMLSelectElement",
    "TEXTAREA": "HTMLTextAreaElement", "IFRAME": "HTMLIFrameElement", "FRAME": "HTMLFrameElement",
    "FRAMESET": "HTMLFrameSetElement", "TABLE": "HTMLTableElement", "DIV": "HTMLDivElement",
    "SPAN": "HTMLSpanElement", "P": "HTMLParagraphElement", "BODY": "HTMLBodyElement", "HTML": "HTMLHtmlElement",
}

_SHOWN_ATTRIBUTES = {
    "A": ("href",), "AREA": ("href",), "IMG": ("src", "alt"), "FORM": ("name", "action"),
    "INPUT": ("type", "name", "value"), "BUTTON": ("name",), "SELECT": ("name",), "TEXTAREA": ("name",),
    "IFRAME": ("src",), "FRAME": ("src",),
}


def _short(text, limit=40):
    text = " ".join(str(text).split())
    return text if len(text) <= limit else text[:limit - 1] + "\u2026"


def _kind(obj):
    """The object's kind as its page names it ("HTMLDocument", "HTMLCollection"), or None."""
    if _library_class(obj) is not None:
        return f"varne.{_library_class(obj)}"
    if isinstance(_read(obj, "LocationURL"), str):
        return "IWebBrowser2"
    if _read(obj, "nodeName") == "#document":
        return "HTMLDocument"
    tag = _read(obj, "tagName")
    if isinstance(tag, str) and tag:
        return _ELEMENT_INTERFACES.get(tag.upper(), "HTMLElement")
    try:
        text = obj.toString()
    except Exception:
        text = None
    if isinstance(text, str) and text.startswith("[object ") and text.endswith("]"):
        return text[8:-1]
    return None


def _element_repr(obj, tag):
    interface = _ELEMENT_INTERFACES.get(tag.upper())
    parts = [interface] if interface else ["HTMLElement", tag]
    text = _read(obj, "innerText")
    if isinstance(text, str) and text.strip():
        parts.append(repr(_short(text)))
    for attribute in _SHOWN_ATTRIBUTES.get(tag.upper(), ("id",)):
        value = _read(obj, attribute)
        if isinstance(value, str) and value:
            parts.append(f"{attribute}={_short(value, 80)!r}")
    return "<" + " ".join(parts) + ">"


def _repr(self):
    library_class = _library_class(self)
    if library_class is not None:
        return f"<varne.{library_class} object>"
    url = _read(self, "LocationURL")
    if isinstance(url, str):
        return f"<IWebBrowser2 url={url!r}>"
    if _read(self, "nodeName") == "#document":
        return f"<HTMLDocument url={_read(self, 'URL')!r}>"
    tag = _read(self, "tagName")
    if isinstance(tag, str) and tag:
        return _element_repr(self, tag)
    kind = _kind(self)
    if kind == "Window" or (kind is None and isinstance(_read(self, "document"), Object)):
        return f"<Window url={_read(_read(self, 'location'), 'href')!r}>"
    length = _read(self, "length")
    if isinstance(length, int):
        return f"<{kind or 'collection'} length={length}>"
    return f"<{kind}>" if kind else "<varne object-model object>"


Object.__len__ = _len
Object.__getitem__ = _getitem
Object.__iter__ = _iter
Object.__repr__ = _repr
