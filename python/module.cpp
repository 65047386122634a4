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
#include "python_parts.h"

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
        // Constructing the class object registers it with the module; nothing else holds it.
        // NOLINTNEXTLINE(bugprone-unused-raii)
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

}  // namespace

}  // namespace varne::python

PYBIND11_MODULE(varne, module)
{
    using namespace varne;
    using namespace varne::python;
    PyDateTime_IMPORT;

    module.doc() = to_utf8(library_descriptor().description);
    module.attr("__version__") = VARNE_VERSION;

    py::exec(std::string(kAutomationError), module.attr("__dict__"));
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
    py::exec(std::string(kSequencesAndNames), module.attr("__dict__"));

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
