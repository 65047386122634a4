#include "spreadsheet/embedded/instance.h"

#include <algorithm>

namespace varne::embedded {

namespace {

constexpr int32_t kApplicationError = 1004;

BStr book_name(unsigned number)
{
    return u"Book" + from_utf8(std::to_string(number));
}

// Either separator ends a folder, on every system, so that a workbook's Name and Path come out the same.
size_t last_separator(const BStr& path)
{
    return path.find_last_of(u"/\\");
}

[[noreturn]] void throw_disconnected(const std::string& what)
{
    throw AutomationError(error_number::kObjectDisconnected,
                          "The object invoked has disconnected from its clients: " + what);
}

}  // namespace

AutomationError object_error(const std::string& cause)
{
    return AutomationError(kApplicationError, "Application-defined or object-defined error: " + cause);
}

Book::Book(BStr name, FileSystem& files)
    : m_files(files), m_content(std::make_unique<workbook::Workbook>()), m_name(std::move(name))
{
    for (size_t i = 0; i < m_content->sheet_count(); ++i) {
        auto& sheet = m_content->sheet(i);
        m_slots.push_back(std::make_shared<SheetSlot>(SheetSlot{&sheet, sheet.name()}));
    }
}

BStr Book::folder() const
{
    auto slash = last_separator(m_path);
    if (slash == BStr::npos)
        return BStr();
    // A root keeps its separator: "/" and "C:\".
    bool root = slash == 0 || (slash == 2 && m_path[1] == u':');
    return m_path.substr(0, root ? slash + 1 : slash);
}

const std::shared_ptr<SheetSlot>& Book::slot(size_t index) const
{
    if (index >= m_slots.size())
        throw AutomationError::subscript_out_of_range();
    return m_slots[index];
}

std::optional<size_t> Book::index_of(const SheetSlot& slot) const
{
    auto at = std::find_if(m_slots.begin(), m_slots.end(), [&](const auto& held) { return held.get() == &slot; });
    if (at == m_slots.end())
        return std::nullopt;
    return static_cast<size_t>(at - m_slots.begin());
}

const std::shared_ptr<SheetSlot>& Book::add_sheet(size_t position)
{
    auto& sheet = m_content->add_sheet(position);
    auto at = m_slots.insert(m_slots.begin() + static_cast<std::ptrdiff_t>(position),
                             std::make_shared<SheetSlot>(SheetSlot{&sheet, sheet.name()}));
    return *at;
}

void Book::remove_sheet(size_t index)
{
    auto slot = m_slots.at(index);
    slot->last_name = slot->sheet->name();
    m_content->remove_sheet(index);
    slot->sheet = nullptr;
    m_slots.erase(m_slots.begin() + static_cast<std::ptrdiff_t>(index));
}

void Book::save_as(const BStr& path, const workbook::SaveOptions& options)
{
    workbook::save_xls(*m_content, m_files, path, options);
    m_path = path;
    m_name = path.substr(last_separator(path) + 1);
    m_options = options;
}

void Book::save()
{
    if (m_path.empty())
        throw object_error("workbook '" + to_utf8(m_name) + "' has never been saved; save it with SaveAs first");
    workbook::save_xls(*m_content, m_files, m_path, m_options);
}

void Book::close()
{
    for (auto& slot : m_slots) {
        slot->last_name = slot->sheet->name();
        slot->sheet = nullptr;
    }
    m_slots.clear();
    m_content.reset();
}

void Instance::check_running() const
{
    if (!m_running)
        throw AutomationError(error_number::kServerUnavailable,
                              "The RPC server is unavailable: the spreadsheet application has quit");
}

void Instance::quit()
{
    for (auto& book : m_books)
        book->close();
    m_books.clear();
    m_active = nullptr;
    m_running = false;
}

const std::shared_ptr<Book>& Instance::add_book()
{
    m_books.push_back(std::make_shared<Book>(book_name(++m_books_added), m_files));
    m_active = m_books.back();
    return m_books.back();
}

void Instance::close(std::shared_ptr<Book> book)
{
    book->close();
    std::erase(m_books, book);
    if (m_active == book)
        m_active = m_books.empty() ? nullptr : m_books.back();
}

Instance& BookRef::instance() const
{
    m_instance->check_running();
    return *m_instance;
}

Book& BookRef::book() const
{
    m_instance->check_running();
    if (!m_book->is_open())
        throw_disconnected("workbook '" + to_utf8(m_book->name()) + "' has been closed");
    return *m_book;
}

workbook::Worksheet& SheetRef::sheet() const
{
    m_book.book();
    if (!m_slot->sheet)
        throw_disconnected("sheet '" + to_utf8(m_slot->last_name) + "' has been deleted");
    return *m_slot->sheet;
}

size_t SheetRef::index() const
{
    sheet();
    return *m_book.book().index_of(*m_slot);
}

}  // namespace varne::embedded
