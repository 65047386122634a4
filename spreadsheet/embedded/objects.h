#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "frame/collection.h"
#include "spreadsheet/embedded/instance.h"
#include "spreadsheet/embedded/model_object.h"
#include "spreadsheet/engine/cell_reference.h"

// The spreadsheet object model over the workbook engine, as scripts and ExcelConn reach it:
// Application, Workbooks, Workbook, Window, Sheets (also as Worksheets), Worksheet, Range.
// Collections count from 1. The window states are those of the object model.
namespace varne::embedded {

inline constexpr int32_t kMaximized = -4137;
inline constexpr int32_t kMinimized = -4140;
inline constexpr int32_t kNormal = -4143;
inline constexpr int32_t kWorksheetType = -4167;

// The application: its workbooks, the active workbook, sheet and window, and Quit.
class Application final : public ModelObject<Application> {
public:
    explicit Application(FileSystem& files) : m_instance(std::make_shared<Instance>(files)) {}

private:
    friend ModelObject<Application>;
    static constexpr std::u16string_view kDefaultMember{};
    static std::span<const Member> members();
    void check_alive() const { m_instance->check_running(); }

    Variant workbooks();
    Variant sheets();
    Variant active_workbook();
    Variant active_sheet();
    Variant active_window();
    Variant visible();
    void set_visible(const Variant& value);
    Variant display_alerts();
    void set_display_alerts(const Variant& value);
    Variant user_name();
    void set_user_name(const Variant& value);
    Variant cells(std::span<const Variant> args);
    Variant range(std::span<const Variant> args);
    Variant quit(std::span<const Variant> args);

    // The active workbook; 1004 naming the member when none is open.
    BookRef active_book(std::u16string_view member) const;

    std::shared_ptr<Instance> m_instance;
};

// The open workbooks in the order they were opened; Item takes a position or a name.
class Workbooks final : public ModelObject<Workbooks>, public Collection {
public:
    explicit Workbooks(std::shared_ptr<Instance> instance) : m_instance(std::move(instance)) {}

    int32_t item_count() override { return to_i4(count()); }
    Variant item_at(int32_t index) override
    {
        const auto position = position_from_1(index);
        return item(position);
    }

private:
    friend ModelObject<Workbooks>;
    static constexpr std::u16string_view kDefaultMember = u"Item";
    static std::span<const Member> members();
    void check_alive() const { m_instance->check_running(); }

    Variant count();
    Variant item(std::span<const Variant> args);
    Variant add(std::span<const Variant> args);

    std::shared_ptr<Instance> m_instance;
};

class Workbook final : public ModelObject<Workbook> {
public:
    explicit Workbook(BookRef book) : m_book(std::move(book)) {}

private:
    friend ModelObject<Workbook>;
    static constexpr std::u16string_view kDefaultMember{};
    static std::span<const Member> members();
    void check_alive() const { m_book.book(); }

    Variant name();
    Variant full_name();
    Variant path();
    Variant sheets();
    Variant active_sheet();
    Variant activate(std::span<const Variant> args);
    Variant save(std::span<const Variant> args);
    Variant save_as(std::span<const Variant> args);
    Variant close(std::span<const Variant> args);

    BookRef m_book;
};

// The one window of a workbook.
class Window final : public ModelObject<Window> {
public:
    explicit Window(BookRef book) : m_book(std::move(book)) {}

private:
    friend ModelObject<Window>;
    static constexpr std::u16string_view kDefaultMember{};
    static std::span<const Member> members();
    void check_alive() const { m_book.book(); }

    Variant caption();
    Variant window_state();
    void set_window_state(const Variant& value);

    BookRef m_book;
};

// The sheets of one workbook; Item takes a position or a name, in any case.
class Sheets final : public ModelObject<Sheets>, public Collection {
public:
    explicit Sheets(BookRef book) : m_book(std::move(book)) {}

    int32_t item_count() override { return to_i4(count()); }
    Variant item_at(int32_t index) override
    {
        const auto position = position_from_1(index);
        return item(position);
    }

private:
    friend ModelObject<Sheets>;
    static constexpr std::u16string_view kDefaultMember = u"Item";
    static std::span<const Member> members();
    void check_alive() const { m_book.book(); }

    Variant count();
    Variant item(std::span<const Variant> args);
    Variant add(std::span<const Variant> args);

    // The position of a sheet object given as Before or After; it must be of this workbook.
    size_t position_of(const Variant& sheet, std::u16string_view argument) const;

    BookRef m_book;
};

class Worksheet final : public ModelObject<Worksheet> {
public:
    explicit Worksheet(SheetRef sheet) : m_sheet(std::move(sheet)) {}

    const SheetRef& sheet_ref() const { return m_sheet; }

private:
    friend ModelObject<Worksheet>;
    static constexpr std::u16string_view kDefaultMember{};
    static std::span<const Member> members();
    void check_alive() const { m_sheet.sheet(); }

    Variant name();
    void set_name(const Variant& value);
    Variant index();
    Variant parent();
    Variant cells(std::span<const Variant> args);
    Variant columns();
    Variant columns_of(std::span<const Variant> args);
    Variant rows();
    Variant rows_of(std::span<const Variant> args);
    Variant range(std::span<const Variant> args);
    Variant select(std::span<const Variant> args);
    Variant activate(std::span<const Variant> args);
    Variant delete_sheet(std::span<const Variant> args);

    // A cell reference given to Range: a text such as "B3" or "A1:C4", or a range of this sheet.
    workbook::CellArea area_of(const Variant& reference) const;

    SheetRef m_sheet;
};

// A rectangle of cells of one sheet. Value reads one cell and writes every cell of it.
// A range is taken as cells, as columns (Columns, EntireColumn) or as rows (Rows, EntireRow):
// that decides what its items are (Item, and calling the range itself: Columns(2)) and what
// Count counts. Taken as columns it can fit their widths to its cells (AutoFit).
class Range final : public ModelObject<Range> {
public:
    enum class Taken : uint8_t { cells, columns, rows };

    Range(SheetRef sheet, workbook::CellArea area, Taken taken = Taken::cells)
        : m_sheet(std::move(sheet)), m_area(area), m_taken(taken)
    {
    }

    const SheetRef& sheet_ref() const { return m_sheet; }
    const workbook::CellArea& area() const { return m_area; }

    // Called with arguments, a range gives its items as Item does; without, its Value.
    Variant call_default(std::span<const Variant> args) override;

private:
    friend ModelObject<Range>;
    static constexpr std::u16string_view kDefaultMember = u"Value";
    static std::span<const Member> members();
    void check_alive() const { m_sheet.sheet(); }

    Variant value();
    void set_value(const Variant& value);
    // As Value, but a date-time reads as its serial number.
    Variant value2();
    Variant row();
    Variant column();
    Variant count();
    Variant address();
    Variant worksheet();
    Variant columns();
    Variant columns_of(std::span<const Variant> args);
    Variant entire_column();
    Variant rows();
    Variant rows_of(std::span<const Variant> args);
    Variant entire_row();
    Variant item(std::span<const Variant> args);
    Variant column_width();
    void set_column_width(const Variant& value);
    Variant row_height();
    void set_row_height(const Variant& value);
    Variant number_format();
    void set_number_format(const Variant& value);
    Variant autofit(std::span<const Variant> args);

    workbook::CellValueView single_cell(std::u16string_view member) const;
    // The range's column or row at a position from 1, over the range's rows or columns.
    Variant column_at(const Variant& position, std::u16string_view member) const;
    Variant row_at(const Variant& position, std::u16string_view member) const;

    SheetRef m_sheet;
    workbook::CellArea m_area;
    Taken m_taken;
};

// A new Worksheet object for the sheet at index (from 0) of the workbook.
Variant worksheet_object(const BookRef& book, size_t index);

}  // namespace varne::embedded
