#include "spreadsheet/embedded/embedded_launcher.h"

#include <algorithm>
#include <array>
#include <string>

#include "spreadsheet/embedded/objects.h"

namespace varne::embedded {

namespace {

// SaveAs(Filename, FileFormat, Password, WriteResPassword, ReadOnlyRecommended, CreateBackup,
// AccessMode, ConflictResolution, AddToMru, TextCodepage, TextVisualLayout, Local).
constexpr size_t kSaveAsParameters = 12;
// The formats saved as a 97-2003 workbook: 43 (the 95 and 97 format, written with its
// 97 stream only), 56 (97-2003) and -4143 (the normal workbook of those releases).
constexpr std::array<int32_t, 3> kWorkbookFormats{43, 56, -4143};

std::string quoted(std::u16string_view text)
{
    return "'" + to_utf8(text) + "'";
}

}  // namespace

void check_arguments(std::span<const Variant> args, size_t required, size_t most, std::u16string_view member)
{
    if (args.size() > most)
        throw AutomationError(error_number::kWrongArgumentCount,
                              "Wrong number of arguments or invalid property assignment: " + to_utf8(member) +
                                  " takes " + std::to_string(most) + ", not " + std::to_string(args.size()));
    for (size_t i = 0; i < required; ++i) {
        if (!argument(args, i))
            throw AutomationError(error_number::kArgumentNotOptional, "Argument not optional: argument " +
                                                                          std::to_string(i + 1) + " of " +
                                                                          to_utf8(member));
    }
}

Ref<Dispatch> EmbeddedLauncher::start_application()
{
    return make_object<Application>(m_files);
}

std::span<const Application::Member> Application::members()
{
    static const Member kMembers[] = {
        {.name = u"ActiveSheet", .get = &Application::active_sheet},
        {.name = u"ActiveWindow", .get = &Application::active_window},
        {.name = u"ActiveWorkbook", .get = &Application::active_workbook},
        {.name = u"Cells", .call = &Application::cells},
        {.name = u"DisplayAlerts", .get = &Application::display_alerts, .put = &Application::set_display_alerts},
        {.name = u"Quit", .call = &Application::quit},
        {.name = u"Range", .call = &Application::range},
        {.name = u"Sheets", .get = &Application::sheets},
        {.name = u"UserName", .get = &Application::user_name, .put = &Application::set_user_name},
        {.name = u"Visible", .get = &Application::visible, .put = &Application::set_visible},
        {.name = u"Workbooks", .get = &Application::workbooks},
        {.name = u"Worksheets", .get = &Application::sheets},
    };
    return kMembers;
}

BookRef Application::active_book(std::u16string_view member) const
{
    if (!m_instance->active_book())
        throw object_error(to_utf8(member) + ": no workbook is open");
    return BookRef(m_instance, m_instance->active_book());
}

Variant Application::workbooks()
{
    return new_object<Workbooks>(m_instance);
}

Variant Application::sheets()
{
    return new_object<Sheets>(active_book(u"Sheets"));
}

Variant Application::active_workbook()
{
    if (!m_instance->active_book())
        return Ref<Dispatch>();
    return new_object<Workbook>(active_book(u"ActiveWorkbook"));
}

Variant Application::active_sheet()
{
    if (!m_instance->active_book())
        return Ref<Dispatch>();
    BookRef book = active_book(u"ActiveSheet");
    return worksheet_object(book, book.book().content().active_sheet());
}

Variant Application::active_window()
{
    if (!m_instance->active_book())
        return Ref<Dispatch>();
    return new_object<Window>(active_book(u"ActiveWindow"));
}

Variant Application::visible()
{
    return m_instance->visible;
}

void Application::set_visible(const Variant& value)
{
    m_instance->visible = to_bool(value);
}

Variant Application::display_alerts()
{
    return m_instance->display_alerts;
}

void Application::set_display_alerts(const Variant& value)
{
    m_instance->display_alerts = to_bool(value);
}

Variant Application::user_name()
{
    return m_instance->user_name;
}

void Application::set_user_name(const Variant& value)
{
    m_instance->user_name = to_bstr(value);
}

Variant Application::cells(std::span<const Variant> args)
{
    BookRef book = active_book(u"Cells");
    return worksheet_object(book, book.book().content().active_sheet()).object()->call_method(u"Cells", args);
}

Variant Application::range(std::span<const Variant> args)
{
    BookRef book = active_book(u"Range");
    return worksheet_object(book, book.book().content().active_sheet()).object()->call_method(u"Range", args);
}

Variant Application::quit(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"Quit");
    m_instance->quit();
    return {};
}

Variant Workbooks::count()
{
    return static_cast<int32_t>(m_instance->books().size());
}

Variant Workbooks::item(std::span<const Variant> args)
{
    check_arguments(args, 1, 1, u"Item");
    const auto& books = m_instance->books();
    if (args[0].type() == VarType::String) {
        for (const auto& book : books) {
            if (equals_ignoring_case(book->name(), args[0].string()))
                return new_object<Workbook>(BookRef(m_instance, book));
        }
        throw AutomationError(error_number::kSubscriptOutOfRange,
                              "Subscript out of range: no workbook named " + quoted(args[0].string()) + " is open");
    }
    int32_t position = to_i4(args[0]);
    if (position < 1 || static_cast<size_t>(position) > books.size())
        throw AutomationError(error_number::kSubscriptOutOfRange, "Subscript out of range: there is no workbook " +
                                                                      std::to_string(position) + " of " +
                                                                      std::to_string(books.size()));
    return new_object<Workbook>(BookRef(m_instance, books[static_cast<size_t>(position) - 1]));
}

Variant Workbooks::add(std::span<const Variant> args)
{
    check_arguments(args, 0, 1, u"Add");
    if (argument(args, 0))
        throw object_error("Workbooks.Add: templates are not supported; leave Template out");
    return new_object<Workbook>(BookRef(m_instance, m_instance->add_book()));
}

std::span<const Workbook::Member> Workbook::members()
{
    static const Member kMembers[] = {
        {.name = u"Activate", .call = &Workbook::activate}, {.name = u"ActiveSheet", .get = &Workbook::active_sheet},
        {.name = u"Close", .call = &Workbook::close},       {.name = u"FullName", .get = &Workbook::full_name},
        {.name = u"Name", .get = &Workbook::name},          {.name = u"Path", .get = &Workbook::path},
        {.name = u"Save", .call = &Workbook::save},         {.name = u"SaveAs", .call = &Workbook::save_as},
        {.name = u"Sheets", .get = &Workbook::sheets},      {.name = u"Worksheets", .get = &Workbook::sheets},
    };
    return kMembers;
}

Variant Workbook::name()
{
    return m_book.book().name();
}

Variant Workbook::full_name()
{
    return m_book.book().full_name();
}

Variant Workbook::path()
{
    return m_book.book().folder();
}

Variant Workbook::sheets()
{
    return new_object<Sheets>(m_book);
}

Variant Workbook::active_sheet()
{
    return worksheet_object(m_book, m_book.book().content().active_sheet());
}

Variant Workbook::activate(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"Activate");
    m_book.instance().activate(m_book.shared_book());
    return {};
}

Variant Workbook::save(std::span<const Variant> args)
{
    check_arguments(args, 0, 0, u"Save");
    m_book.book().save();
    return {};
}

Variant Workbook::save_as(std::span<const Variant> args)
{
    check_arguments(args, 1, kSaveAsParameters, u"SaveAs");
    Book& book = m_book.book();
    BStr file = to_bstr(args[0]);
    if (const Variant* format = argument(args, 1)) {
        int32_t number = to_i4(*format);
        if (std::find(kWorkbookFormats.begin(), kWorkbookFormats.end(), number) == kWorkbookFormats.end())
            throw object_error("SaveAs: file format " + std::to_string(number) +
                               " is not supported; 43, 56 and -4143 save a 97-2003 workbook");
    }
    for (size_t password : {2, 3}) {
        const Variant* given = argument(args, password);
        if (given && !to_bstr(*given).empty())
            throw object_error("SaveAs: files protected by a password are not supported");
    }
    workbook::SaveOptions options;
    if (const Variant* read_only = argument(args, 4))
        options.read_only_recommended = to_bool(*read_only);
    if (const Variant* backup = argument(args, 5))
        options.create_backup = to_bool(*backup);
    options.user_name = m_book.instance().user_name;
    book.save_as(file, options);
    return {};
}

Variant Workbook::close(std::span<const Variant> args)
{
    check_arguments(args, 0, 3, u"Close");
    Book& book = m_book.book();
    const Variant* save_changes = argument(args, 0);
    if (save_changes && to_bool(*save_changes)) {
        if (const Variant* file = argument(args, 1)) {
            workbook::SaveOptions options;
            options.user_name = m_book.instance().user_name;
            book.save_as(to_bstr(*file), options);
        } else {
            book.save();
        }
    }
    m_book.instance().close(m_book.shared_book());
    return {};
}

std::span<const Window::Member> Window::members()
{
    static const Member kMembers[] = {
        {.name = u"Caption", .get = &Window::caption},
        {.name = u"WindowState", .get = &Window::window_state, .put = &Window::set_window_state},
    };
    return kMembers;
}

Variant Window::caption()
{
    return m_book.book().name();
}

Variant Window::window_state()
{
    switch (m_book.book().content().window_state()) {
    case workbook::WindowState::maximized:
        return kMaximized;
    case workbook::WindowState::minimized:
        return kMinimized;
    case workbook::WindowState::normal:
        break;
    }
    return kNormal;
}

void Window::set_window_state(const Variant& value)
{
    auto& content = m_book.book().content();
    switch (int32_t state = to_i4(value)) {
    case kMaximized:
        content.set_window_state(workbook::WindowState::maximized);
        break;
    case kMinimized:
        content.set_window_state(workbook::WindowState::minimized);
        break;
    case kNormal:
        content.set_window_state(workbook::WindowState::normal);
        break;
    default:
        throw object_error("WindowState: " + std::to_string(state) +
                           " is none of -4137 (maximized), -4140 (minimized) and -4143 (normal)");
    }
}

}  // namespace varne::embedded
