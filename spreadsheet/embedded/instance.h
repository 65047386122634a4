#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/automation_error.h"
#include "frame/text.h"
#include "spreadsheet/workbook/workbook.h"
#include "spreadsheet/workbook/xls_writer.h"

// The state of one embedded spreadsheet application, shared by every object of its model.
namespace varne::embedded {

// The identity of one sheet while it belongs to its workbook. Objects of the model hold it,
// so that a sheet deleted, or a workbook closed, is noticed instead of reached.
struct SheetSlot {
    workbook::Worksheet* sheet = nullptr;  // null once the sheet is gone
    BStr last_name;  // names the sheet in the error about it being gone
};

// One open workbook: the engine's workbook, the identities of its sheets in their order, its
// name and the file that it was last saved as.
class Book {
public:
    Book(BStr name, FileSystem& files);

    bool is_open() const { return m_content != nullptr; }
    const BStr& name() const { return m_name; }
    // The file saved last, or the name while there is none.
    const BStr& full_name() const { return m_path.empty() ? m_name : m_path; }
    // The folder of the file saved last; empty while there is none.
    BStr folder() const;

    // The two below are for an open workbook only.
    workbook::Workbook& content() { return *m_content; }
    const std::shared_ptr<SheetSlot>& slot(size_t index) const;  // 9 past the last sheet
    size_t sheet_count() const { return m_slots.size(); }
    std::optional<size_t> index_of(const SheetSlot& slot) const;
    std::optional<size_t> find_sheet(std::u16string_view name) const { return m_content->find_sheet(name); }

    // A new sheet with the next free default name at position (sheet_count() appends).
    const std::shared_ptr<SheetSlot>& add_sheet(size_t position);
    // Raises 1004 for the last sheet.
    void remove_sheet(size_t index);

    // Writes the workbook to the file and takes the file's name; on failure the workbook
    // keeps its name and the engine's file error passes through.
    void save_as(const BStr& path, const workbook::SaveOptions& options);
    // Saves again to the file saved last, with the same options; 1004 when there is none.
    void save();
    void close();

private:
    FileSystem& m_files;
    std::unique_ptr<workbook::Workbook> m_content;
    std::vector<std::shared_ptr<SheetSlot>> m_slots;
    BStr m_name;
    BStr m_path;
    workbook::SaveOptions m_options;
};

// One running application: its open workbooks in the order they were opened, the active
// one, and the few application settings that scripts write.
class Instance {
public:
    // Its workbooks are saved through `files`.
    explicit Instance(FileSystem& files) : m_files(files) {}

    // Raises the server-unavailable error once the application has quit.
    void check_running() const;
    // Closes every workbook without saving it; the application is gone for good.
    void quit();

    const std::vector<std::shared_ptr<Book>>& books() const { return m_books; }
    // A new workbook "BookN" with three sheets, made the active one.
    const std::shared_ptr<Book>& add_book();
    // Null while no workbook is open.
    const std::shared_ptr<Book>& active_book() const { return m_active; }
    void activate(const std::shared_ptr<Book>& book) { m_active = book; }
    // The last workbook opened becomes active when the active one closes.
    void close(std::shared_ptr<Book> book);

    bool visible = false;
    bool display_alerts = true;
    BStr user_name;

private:
    FileSystem& m_files;
    bool m_running = true;
    std::vector<std::shared_ptr<Book>> m_books;
    std::shared_ptr<Book> m_active;
    unsigned m_books_added = 0;
};

// An object's hold on a workbook, checked on every use.
class BookRef {
public:
    BookRef(std::shared_ptr<Instance> instance, std::shared_ptr<Book> book)
        : m_instance(std::move(instance)), m_book(std::move(book))
    {
    }

    // Each raises the server-unavailable error once the application has quit, and the
    // disconnected error once the workbook has been closed.
    Instance& instance() const;
    Book& book() const;

    const std::shared_ptr<Instance>& shared_instance() const { return m_instance; }
    const std::shared_ptr<Book>& shared_book() const { return m_book; }

private:
    std::shared_ptr<Instance> m_instance;
    std::shared_ptr<Book> m_book;
};

// An object's hold on a sheet, checked on every use.
class SheetRef {
public:
    SheetRef(BookRef book, std::shared_ptr<SheetSlot> slot) : m_book(std::move(book)), m_slot(std::move(slot)) {}

    // Each raises as BookRef does, and the disconnected error once the sheet has been deleted.
    workbook::Worksheet& sheet() const;
    size_t index() const;

    const BookRef& book_ref() const { return m_book; }
    const std::shared_ptr<SheetSlot>& slot() const { return m_slot; }

private:
    BookRef m_book;
    std::shared_ptr<SheetSlot> m_slot;
};

// Error 1004 of the spreadsheet object model, with the cause.
AutomationError object_error(const std::string& cause);

}  // namespace varne::embedded
