#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frame/automation_error.h"
#include "frame/dispatch.h"
#include "spreadsheet/spreadsheet_launcher.h"

namespace varne::testing {

// A spreadsheet application that answers every name with another object and records each
// call as text: "get Application.Sheets", "call Application.Sheets('Summary')",
// "put Application.ActiveWindow.WindowState = i4 -4137", "call Application.Quit()". A call
// whose text is in `failures` raises instead, after being recorded; a property in `nothing`
// gives no object.
class RecordingSpreadsheet final : public SpreadsheetLauncher {
public:
    struct Log {
        std::vector<std::string> calls;
        std::set<std::string> failures;
        std::set<std::string> nothing;
        AutomationError failure{1004, "Application-defined or object-defined error"};
    };

    Ref<Dispatch> start_application() override
    {
        record(*m_log, "start");
        return make_object<Recorded>(m_log, "Application");
    }

    std::vector<std::string>& calls() { return m_log->calls; }
    // The call fails with error (number, description).
    void fail(const std::string& call, int32_t number = 1004, const std::string& description = "refused")
    {
        m_log->failures.insert(call);
        m_log->failure = AutomationError(number, description);
    }
    void answer_nothing(const std::string& property) { m_log->nothing.insert(property); }

private:
    static void record(Log& log, const std::string& call)
    {
        log.calls.push_back(call);
        if (log.failures.count(call))
            throw log.failure;
    }

    static std::string text(const Variant& value)
    {
        switch (value.type()) {
        case VarType::Empty:
            return "empty";
        case VarType::I2:
            return "i2 " + std::to_string(value.i2());
        case VarType::I4:
            return "i4 " + std::to_string(value.i4());
        case VarType::Bool:
            return value.boolean() ? "true" : "false";
        case VarType::String:
            return "'" + to_utf8(value.string()) + "'";
        default:
            return "other";
        }
    }

    static std::string list(std::span<const Variant> args)
    {
        std::string joined;
        for (const auto& arg : args)
            joined += (joined.empty() ? "" : ", ") + text(arg);
        return "(" + joined + ")";
    }

    class Recorded final : public Dispatch {
    public:
        Recorded(std::shared_ptr<Log> log, std::string path) : m_log(std::move(log)), m_path(std::move(path)) {}
        ~Recorded() override
        {
            if (m_path == "Application")
                m_log->calls.push_back("released Application");
        }

        Variant get_property(std::u16string_view name) override
        {
            std::string path = m_path + "." + to_utf8(name);
            record(*m_log, "get " + path);
            if (m_log->nothing.count(path))
                return Ref<Dispatch>();
            return Ref<Dispatch>(make_object<Recorded>(m_log, path));
        }
        void put_property(std::u16string_view name, const Variant& value) override
        {
            record(*m_log, "put " + m_path + "." + to_utf8(name) + " = " + text(value));
        }
        Variant call_method(std::u16string_view name, std::span<const Variant> args) override
        {
            record(*m_log, "call " + m_path + "." + to_utf8(name) + list(args));
            return {};
        }
        Variant call_default(std::span<const Variant> args) override
        {
            std::string path = m_path + list(args);
            record(*m_log, "call " + path);
            return Ref<Dispatch>(make_object<Recorded>(m_log, path));
        }

    private:
        std::shared_ptr<Log> m_log;
        std::string m_path;
    };

    std::shared_ptr<Log> m_log = std::make_shared<Log>();
};

}  // namespace varne::testing
