#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "frame/collection.h"
#include "spreadsheet/embedded/instance.h"
#include "spreadsheet/embedded/model_object.h"
#include "spreadsheet/workbook/cell_reference.h"

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

// A collection of the model, counting from 1, with the members Add, Count and Item (the
// default member), which Self provides; For Each walks it through Count and Item.
template <class Self>
class ModelCollection : public ModelObject<Self>, public Collection {
public:
    using Member = typename ModelObject<Self>::Member;
    static constexpr std::u16string_view kDefaultMember = u"Item";

    static std::span<const Member> members()
    {
        static const Member kMembers[] = {
            {.name = u"Add", .call = &Self::add},
            {.name = u"Count", .get = &Self::count},
            {.name = u"Item", .call = &Self::item},
        };
        return kMembers;
    }

    int32_t item_count() override { return to_i4(self().count()); }
    Variant item_at(int32_t index) override
    {
        const auto position = position_from_1(index);
        return self().item(position);
    }

private:
    Self& self() { return static_cast<Self&>(*this); }
};

// An object of one workbook; every use first checks that the workbook is still open.
template <class Self, class Base = ModelObject<Self>>
class BookObject : public Base {
public:
    explicit BookObject(BookRef book) : m_book(std::move(book)) {}

    void check_alive() const { m_book.book(); }

protected:
    BookRef m_book;
};

// The open workbooks in the order they were opened; Item takes a position or a name.
class Workbooks final : public ModelCollection<Workbooks> {
public:
    explicit Workbooks(std::shared_ptr<Instance> instance) : m_instance(std::move(instance)) {}

private:
    friend ModelObject<Workbooks>;
    friend ModelCollection<Workbooks>;
    void check_alive() const { m_instance->check_running(); }

    Variant count();
    Variant item(std::span<const Variant> args);
    Variant add(std::span<const Variant> args);

    std::shared_ptr<Instance> m_instance;
};

class Workbook final : public BookObject<Workbook> {
public:
    using BookObject::BookObject;

private:
    friend ModelObject<Workbook>;
    static std::span<const Member> members();

    Variant name();
    Variant full_name();
    Variant path();
    Variant sheets();
    Variant active_sheet();
    Variant activate(std::span<const Variant> args);
    Variant save(std::span<const Variant> args);
    Variant save_as(std::span<const Variant> args);
    Variant close(std::span<const Variant> args);
};

// The one window of a workbook.
class Window final : public BookObject<Window> {
public:
    using BookObject::BookObject;

private:
    friend ModelObject<Window>;
    static std::span<const Member> members();

    Variant caption();
    Variant window_state();
    void set_window_state(const Variant& value);
};

// The sheets of one workbook; Item takes a position or a name, in any case.
class Sheets final : public BookObject<Sheets, ModelCollection<Sheets>> {
public:
    using BookObject::BookObject;

private:
    friend ModelObject<Sheets>;
    friend ModelCollection<Sheets>;

    Variant count();
    Variant item(std::span<const Variant> args);
    Variant add(std::span<const Variant> args);

    // The position of a sheet object given as Before or After; it must be of this workbook.
    size_t position_of(const Variant& sheet, std::u16string_view argument) const;
};

class Worksheet final : public ModelObject<Worksheet> {
public:
    explicit Worksheet(SheetRef sheet) : m_sheet(std::move(sheet)) {}

    const SheetRef& sheet_ref() const { return m_sheet; }

private:
    friend ModelObject<Worksheet>;
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
    // The range's columns or rows at a position from 1, over the range's rows or columns.
    Variant line_at(const Variant& position, Taken taken, std::u16string_view member) const;
    Variant lines_of(std::span<const Variant> args, Taken taken);

    SheetRef m_sheet;
    workbook::CellArea m_area;
    Taken m_taken;
};

// A new Worksheet object for the sheet at index (from 0) of the workbook.
Variant worksheet_object(const BookRef& book, size_t index);

}  // namespace varne::embedded
