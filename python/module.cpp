// The Python module `varne`: glue between Python values and the late-binding layer. Every
// class, member and constant comes from the library's descriptor table.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <datetime.h>

#include <cstring>
#include <vector>

#include "frame/automation_date.h"
#include "frame/automation_error.h"
#include "frame/descriptor.h"
#include "frame/late_binding.h"

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
        return PyLong_AsDouble(value.ptr());  // too large for an integer: the conversion to the parameter overflows
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
    case VarType::Object:
        if (!value.object())
            return py::none();
        return py::cast(ObjectHandle{value.object()});
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

py::object get_attribute(const ObjectHandle& handle, const std::string& name)
{
    if (name.starts_with("__"))
        throw py::attribute_error(name);
    BStr member = from_utf8(name);
    if (const auto* cls = handle.object->class_descriptor()) {
        handle.object->check_apartment();
        const auto* found = find_member(*cls, member);
        if (!found)
            throw_not_supported(member);
        return py::cast(BoundMember{handle.object, found});
    }
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

std::string describe(const ObjectHandle& handle)
{
    if (const auto* cls = handle.object->class_descriptor())
        return "<varne." + to_utf8(cls->name) + " object>";
    return "<varne object-model object>";
}

void raise_automation_error(const AutomationError& error)
{
    py::object instance = g_automation_error(error.number(), error.description());
    PyErr_SetObject(g_automation_error.ptr(), instance.ptr());
}

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

    py::class_<ObjectHandle>(module, "Object")
        .def("__getattr__", &get_attribute)
        .def("__setattr__", &set_attribute)
        .def("__call__",
             [](const ObjectHandle& handle, const py::args& args) {
                 std::vector<Variant> values = to_variants(args);
                 return call_released([&] { return call_default(*handle.object, values); });
             })
        .def("__getitem__",
             [](const ObjectHandle& handle, const py::object& index) {
                 std::vector<Variant> values{to_variant(index)};
                 return call_released([&] { return call_default(*handle.object, values); });
             })
        .def("__eq__",
             [](const ObjectHandle& a, const py::object& b) {
                 return py::isinstance<ObjectHandle>(b) && a.object == b.cast<const ObjectHandle&>().object;
             })
        .def("__hash__", [](const ObjectHandle& handle) { return reinterpret_cast<intptr_t>(handle.object.get()); })
        .def("__dir__", &member_names)
        .def("__repr__", &describe);

    py::class_<BoundMember>(module, "Member")
        .def("__call__", &call_member)
        .def("__repr__", [](const BoundMember& bound) { return "<varne member " + to_utf8(bound.member->name) + ">"; });

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
