// The Python module `varne`: glue between Python values and the late-binding layer. Every
// class, member and constant comes from the library's descriptor table.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <datetime.h>

#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "frame/collection.h"
#include "frame/descriptor.h"
#include "frame/late_binding.h"
#include "frame/reference.h"

namespace py = pybind11;

namespace varne::python {

namespace {

// A script's reference to a library or object-model object.
struct ObjectHandle {
    Ref<Dispatch> object;
};

// A member of a library object taken as a value, ready to be called.
struct BoundMember {
    Ref<Dispatch> object;
    const MemberDescriptor* member;
};

py::object g_automation_error;
// Each library class has a Python class of its own, derived from Object, that carries its members'
// signatures and docstrings; the index of a class in the descriptor picks its handle type.
template <size_t Index>
struct ClassHandle : ObjectHandle {
};

constexpr size_t kMaxClasses = 8;
using HandleMaker = py::object (*)(const Ref<Dispatch>&);
std::map<const ClassDescriptor*, HandleMaker> g_class_handles;

template <size_t Index>
py::object make_class_handle(const Ref<Dispatch>& object)
{
    return py::cast(ClassHandle<Index>{{object}});
}

template <size_t... Index>
void register_class_handles(py::module_& module, std::index_sequence<Index...>)
{
    const auto& classes = library_descriptor().classes;
    if (classes.size() > sizeof...(Index))
        throw std::logic_error("the module has room for fewer classes than the descriptor has");
    auto add = [&](auto index) {
        constexpr size_t kIndex = decltype(index)::value;
        if (kIndex >= classes.size())
            return;
        const auto& cls = classes[kIndex];
        py::class_<ClassHandle<kIndex>, ObjectHandle>(module, to_utf8(cls.name).c_str());
        g_class_handles[&cls] = &make_class_handle<kIndex>;
    };
    (add(std::integral_constant<size_t, Index>{}), ...);
}

BStr to_bstr(const py::str& text)
{
    py::bytes encoded =
        py::reinterpret_steal<py::bytes>(PyUnicode_AsEncodedString(text.ptr(), "utf-16-le", "surrogatepass"));
    if (!encoded)
        throw py::error_already_set();
    std::string bytes = encoded;
    BStr result(bytes.size() / 2, u'\0');
    std::memcpy(result.data(), bytes.data(), result.size() * 2);
    return result;
}

py::str to_str(const BStr& text)
{
    PyObject* decoded = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                                              static_cast<Py_ssize_t>(text.size() * 2), "surrogatepass", nullptr);
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

Variant to_variant(const py::handle& value)
{
    if (value.is_none())
        return {};
    if (PyBool_Check(value.ptr()))
        return value.cast<bool>();
    if (PyLong_Check(value.ptr())) {
        int overflow = 0;
        long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow == 0 && number >= INT32_MIN && number <= INT32_MAX)
            return static_cast<int32_t>(number);
        // Too large for an integer: as a number, so that the conversion to the parameter overflows.
        double approximate = PyLong_AsDouble(value.ptr());
        if (approximate == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            approximate = overflow < 0 ? -HUGE_VAL : HUGE_VAL;
        }
        return approximate;
    }
    if (PyFloat_Check(value.ptr()))
        return value.cast<double>();
    if (PyUnicode_Check(value.ptr()))
        return to_bstr(py::reinterpret_borrow<py::str>(value));
    if (PyDateTime_Check(value.ptr())) {
        CivilTime time{PyDateTime_GET_YEAR(value.ptr()),        PyDateTime_GET_MONTH(value.ptr()),
                       PyDateTime_GET_DAY(value.ptr()),         PyDateTime_DATE_GET_HOUR(value.ptr()),
                       PyDateTime_DATE_GET_MINUTE(value.ptr()), PyDateTime_DATE_GET_SECOND(value.ptr())};
        return Variant::Date{to_automation_date(time)};
    }
    if (PyDate_Check(value.ptr())) {
        CivilTime time{PyDateTime_GET_YEAR(value.ptr()), PyDateTime_GET_MONTH(value.ptr()),
                       PyDateTime_GET_DAY(value.ptr())};
        return Variant::Date{to_automation_date(time)};
    }
    if (py::isinstance<ObjectHandle>(value))
        return value.cast<const ObjectHandle&>().object;
    throw AutomationError(error_number::kTypeMismatch, "Type mismatch: a " +
                                                           std::string(py::str(value.get_type().attr("__name__"))) +
                                                           " cannot be passed to the library");
}

py::object to_python(const Variant& value)
{
    switch (value.type()) {
    case VarType::Empty:
    case VarType::Null:
        return py::none();
    case VarType::I2:
        return py::int_(value.i2());
    case VarType::I4:
        return py::int_(value.i4());
    case VarType::R8:
        return py::float_(value.r8());
    case VarType::Bool:
        return py::bool_(value.boolean());
    case VarType::String:
        return to_str(value.string());
    case VarType::Date: {
        CivilTime time = to_civil_time(value.date());
        return py::reinterpret_steal<py::object>(
            PyDateTime_FromDateAndTime(time.year, time.month, time.day, time.hour, time.minute, time.second, 0));
    }
    case VarType::Object: {
        if (!value.object())
            return py::none();
        if (const auto* cls = value.object()->class_descriptor())
            return g_class_handles.at(cls)(value.object());
        return py::cast(ObjectHandle{value.object()});
    }
    }
    return py::none();
}

std::vector<Variant> to_variants(const py::args& args)
{
    std::vector<Variant> values;
    values.reserve(args.size());
    for (const auto& arg : args)
        values.push_back(to_variant(arg));
    return values;
}

// Runs a call into the library with the interpreter lock released, since calls may block.
template <class Call>
py::object call_released(Call&& call)
{
    Variant result;
    {
        py::gil_scoped_release released;
        result = call();
    }
    return to_python(result);
}

py::object call_member(const BoundMember& bound, const py::args& args, const py::kwargs& kwargs)
{
    std::vector<Variant> positional = to_variants(args);
    std::vector<BStr> names;
    std::vector<Variant> values;
    for (const auto& [key, value] : kwargs) {
        names.push_back(to_bstr(py::str(key)));
        values.push_back(to_variant(value));
    }
    return call_released([&] {
        std::vector<NamedArgument> named;
        for (size_t i = 0; i < names.size(); ++i)
            named.push_back({names[i], values[i]});
        return invoke(*bound.object, bound.member->name, positional, named);
    });
}

BoundMember bound_member(const ObjectHandle& handle, const std::string& name)
{
    BStr member = from_utf8(name);
    const auto* cls = handle.object->class_descriptor();
    handle.object->check_apartment();
    if (!cls)
        throw_not_supported(member);
    return BoundMember{handle.object, &require_member(*cls, member)};
}

py::object get_attribute(const ObjectHandle& handle, const std::string& name)
{
    if (name.starts_with("__"))
        throw py::attribute_error(name);
    BStr member = from_utf8(name);
    if (handle.object->class_descriptor())
        return py::cast(bound_member(handle, name));
    return call_released([&] { return get_property(*handle.object, member); });
}

void set_attribute(const ObjectHandle& handle, const std::string& name, const py::object& value)
{
    Variant converted = to_variant(value);
    BStr member = from_utf8(name);
    py::gil_scoped_release released;
    put_property(*handle.object, member, converted);
}

py::list member_names(const ObjectHandle& handle)
{
    py::list names;
    if (const auto* cls = handle.object->class_descriptor()) {
        for (const auto& member : cls->members)
            names.append(to_str(BStr(member.name)));
    }
    return names;
}

void raise_automation_error(const AutomationError& error)
{
    py::object instance = g_automation_error(error.number(), error.description());
    PyErr_SetObject(g_automation_error.ptr(), instance.ptr());
}

// The Python side of the module: library classes with real signatures, collections as
// sequences, and a repr() that says what an object of the page is.
constexpr const char* kSequencesAndNames = R"py(
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
)py";

}  // namespace

}  // namespace varne::python

PYBIND11_MODULE(varne, module)
{
    using namespace varne;
    using namespace varne::python;
    PyDateTime_IMPORT;

    module.doc() = to_utf8(library_descriptor().description);
    module.attr("__version__") = VARNE_VERSION;

    py::exec(R"py(
class AutomationError(Exception):
    """A failure reported by the library: an error number and its description."""

    def __init__(self, number, description):
        super().__init__(number, description)
        self.number = number
        self.description = description

    def __str__(self):
        return f"{self.description} (error {self.number})"
)py",
             module.attr("__dict__"));
    g_automation_error = module.attr("AutomationError");
    g_automation_error.attr("__module__") = "varne";

    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised)
                std::rethrow_exception(raised);
        } catch (const AutomationError& error) {
            raise_automation_error(error);
        }
    });

    py::class_<ObjectHandle>(module, "Object",
                             "An object of the browser's or the spreadsheet's object model: read, write or call any of "
                             "its properties and methods by name. Collections are sequences.")
        .def("__getattr__", &get_attribute)
        .def("__setattr__", &set_attribute)
        .def("__call__",
             [](const ObjectHandle& handle, const py::args& args) {
                 std::vector<Variant> values = to_variants(args);
                 return call_released([&] { return call_default(*handle.object, values); });
             })
        .def("__eq__",
             [](const ObjectHandle& a, const py::object& b) {
                 return py::isinstance<ObjectHandle>(b) && a.object == b.cast<const ObjectHandle&>().object;
             })
        .def("__hash__", [](const ObjectHandle& handle) { return reinterpret_cast<intptr_t>(handle.object.get()); })
        .def("__bool__", [](const ObjectHandle&) { return true; })
        .def("__dir__", &member_names);

    py::class_<BoundMember>(module, "Member")
        .def("__call__", &call_member)
        .def("__repr__", [](const BoundMember& bound) { return "<varne member " + to_utf8(bound.member->name) + ">"; });

    // The plumbing that the Python part of the module below builds on.
    module.def("_item", [](const ObjectHandle& handle, const py::object& index) {
        std::vector<Variant> values{to_variant(index)};
        return call_released([&] { return call_default(*handle.object, values); });
    });
    module.def("_count", [](const ObjectHandle& handle) {
        return call_released([&] { return Variant(collection_count(*handle.object)); });
    });
    module.def("_item_at", [](const ObjectHandle& handle, int32_t index) {
        return call_released([&] { return collection_item(*handle.object, index); });
    });
    // The items as they are now: iterating walks these, whatever the page does meanwhile.
    module.def("_items", [](const ObjectHandle& handle) {
        std::vector<Variant> items;
        {
            py::gil_scoped_release released;
            Enumeration walk(*handle.object);
            while (auto item = walk.next())
                items.push_back(std::move(*item));
        }
        py::list list;
        for (const auto& item : items)
            list.append(to_python(item));
        return list;
    });
    module.def("_call", [](const ObjectHandle& handle, const std::string& name, const py::args& args,
                           const py::kwargs& kwargs) { return call_member(bound_member(handle, name), args, kwargs); });
    module.def("_library_class", [](const ObjectHandle& handle) -> py::object {
        if (const auto* cls = handle.object->class_descriptor())
            return py::str(to_utf8(cls->name));
        return py::none();
    });
    module.attr("AutomationError") = g_automation_error;
    py::exec(kSequencesAndNames, module.attr("__dict__"));

    register_class_handles(module, std::make_index_sequence<kMaxClasses>());
    py::object fill_class = module.attr("_fill_class");
    for (const auto& cls : library_descriptor().classes) {
        py::list members;
        for (const auto& member : cls.members) {
            py::list params;
            for (const auto& param : member.params) {
                py::object default_value = param.default_value ? to_python(*param.default_value) : py::none();
                params.append(py::make_tuple(to_utf8(param.name), bool(param.default_value), default_value,
                                             python_type(param.type)));
            }
            members.append(py::make_tuple(to_utf8(member.name), member_docstring(cls, member), params,
                                          python_type(member.result)));
        }
        fill_class(module.attr(to_utf8(cls.name).c_str()), class_docstring(cls), members);
    }

    module.def(
        "CreateObject",
        [](const py::str& prog_id) {
            BStr name = to_bstr(prog_id);
            return call_released([&] { return Variant(create_object(name)); });
        },
        py::arg("ProgID"), "Creates an object of the library by its programmatic identifier, such as 'Varne.Timing'.");

    for (const auto& enumeration : library_descriptor().enums) {
        for (const auto& [name, value] : enumeration.members)
            module.attr(to_utf8(name).c_str()) = value;
    }
}
