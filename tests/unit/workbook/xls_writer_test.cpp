#include "spreadsheet/workbook/xls_writer.h"

#include "frame/text.h"
#include "spreadsheet/workbook/compound_file.h"
#include "tests/support/disk_files.h"
#include "xls_test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace varne::workbook {
namespace {

using nlohmann::json;
using testing::read_back;
using testing::run_command;
using testing::save_on_disk;
using testing::ScratchFolder;
using varne::testing::read_bytes;

void set_text(Worksheet& sheet, CellAddress address, std::u16string_view text)
{
    sheet.set_cell(address, std::u16string(text));
}

// The parts written one after another, as UTF-16.
template <typename... Parts>
std::u16string joined(const Parts&... parts)
{
    std::ostringstream out;
    (out << ... << parts);
    return from_utf8(out.str());
}

json cell(uint32_t row, uint16_t column, const char* kind, json value)
{
    return json::array({row, column, kind, std::move(value)});
}

json date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return json::array({year, month, day, hour, minute, second});
}

// Summary holds one of each kind; Данные is the active sheet and holds texts enough for
// several CONTINUE records; Sheet3 stays empty.
Workbook rich_workbook()
{
    Workbook workbook;
    workbook.rename_sheet(0, u"Summary");
    Worksheet& summary = workbook.sheet(0);
    set_text(summary, {1, 1}, u"Text");
    summary.set_cell({1, 2}, 1234.5);
    set_text(summary, {1, 3}, u"Négatif €");
    set_text(summary, {1, 4}, u"日本語のテキスト");
    set_text(summary, {1, 5}, u"Text");  // shared with A1
    summary.set_cell({2, 1}, true);
    summary.set_cell({2, 2}, false);
    summary.set_cell({3, 1}, DateTime{45351});  // 2024-02-29
    summary.set_cell({3, 2}, DateTime{45351.573263888889});  // 2024-02-29 13:45:30
    summary.set_cell({3, 3}, DateTime{0.75});  // 18:00, a time alone
    summary.set_cell({3, 4}, DateTime{2});  // 1900-01-01
    summary.set_cell({3, 5}, DateTime{60});  // 1900-02-28
    summary.set_cell({3, 6}, DateTime{61});  // 1900-03-01
    summary.set_cell({3, 7}, DateTime{1});  // 1899-12-31: no serial in the 1900 system
    summary.set_cell({3, 8}, DateTime{-1.5});  // 1899-12-29 12:00
    summary.set_cell({3, 9}, DateTime{2958465});  // 9999-12-31
    summary.set_cell({65536, 256}, -2.5);

    Worksheet& data = workbook.sheet(1);
    workbook.rename_sheet(1, u"Данные");
    for (uint32_t row = 1; row <= 600; ++row) {
        set_text(data, {row, 1}, joined("Row ", row, " holds a text of moderate length"));
        set_text(data, {row, 2}, joined("Строка ", row, " — данные"));
        set_text(data, {row, 3}, row % 2 ? u"odd" : u"even");
    }
    set_text(data, {601, 1}, std::u16string(20000, u'Ж'));
    set_text(data, {602, 1}, std::u16string(kMaxTextLength, u'x'));
    workbook.set_active_sheet(1);
    return workbook;
}

TEST(XlsWriter, EveryKindOfValueReadsBack)
{
    ScratchFolder folder;
    const std::string path = folder.file("rich.xls");
    save_on_disk(rich_workbook(), path, {.read_only_recommended = true, .create_backup = false, .user_name = u"Kéthe"});
    json report = read_back(path, 2000);

    EXPECT_EQ(report["biff_version"], 80);
    EXPECT_EQ(report["datemode"], 0);
    EXPECT_EQ(report["user_name"], "Kéthe");
    ASSERT_EQ(report["sheets"].size(), 3u);
    json summary = report["sheets"][0];
    EXPECT_EQ(summary["name"], "Summary");
    EXPECT_EQ(report["sheets"][1]["name"], "Данные");
    EXPECT_EQ(report["sheets"][2]["name"], "Sheet3");
    json expected = json::array({
        cell(1, 1, "text", "Text"),
        cell(1, 2, "number", 1234.5),
        cell(1, 3, "text", "Négatif €"),
        cell(1, 4, "text", "日本語のテキスト"),
        cell(1, 5, "text", "Text"),
        cell(2, 1, "boolean", true),
        cell(2, 2, "boolean", false),
        cell(3, 1, "date", date(2024, 2, 29)),
        cell(3, 2, "date", date(2024, 2, 29, 13, 45, 30)),
        cell(3, 3, "date", date(0, 0, 0, 18, 0, 0)),
        cell(3, 4, "date", {{"serial", 1.0}}),
        cell(3, 5, "date", {{"serial", 59.0}}),
        cell(3, 6, "date", date(1900, 3, 1)),
        cell(3, 7, "text", "12/31/1899"),
        cell(3, 8, "text", "12/29/1899 12:00:00 PM"),
        cell(3, 9, "date", date(9999, 12, 31)),
        cell(65536, 256, "number", -2.5),
    });
    EXPECT_EQ(summary["cells"], expected);
    EXPECT_EQ(summary["rows"], 65536);
    EXPECT_EQ(summary["columns"], 256);

    json data = report["sheets"][1];
    EXPECT_EQ(data["counts"], json({{"text", 1802}}));
    EXPECT_EQ(data["cells"][0], cell(1, 1, "text", "Row 1 holds a text of moderate length"));
    EXPECT_EQ(data["cells"][1], cell(1, 2, "text", "Строка 1 — данные"));
    EXPECT_EQ(data["cells"][1799], cell(600, 3, "text", "even"));
    EXPECT_EQ(data["cells"][1800], cell(601, 1, "text", to_utf8(std::u16string(20000, u'Ж'))));
    EXPECT_EQ(data["cells"][1801], cell(602, 1, "text", std::string(kMaxTextLength, 'x')));
    EXPECT_EQ(report["sheets"][2]["counts"], json::object());

    json sst = report["records"]["sst"];
    EXPECT_EQ(sst["unique"], 1209);
    EXPECT_EQ(sst["total"], 1808);
    EXPECT_GE(sst["continue_records"], 9);  // the two long texts alone fill more than nine records
    EXPECT_EQ(sst["longest"], kMaxTextLength);
    EXPECT_EQ(sst["walk_matches_cells"], true);
    EXPECT_EQ(sst["extsst_matches"], true);
}

TEST(XlsWriter, ActiveSheetReadOnlyRecommendationAndWindowLiveInTheRecords)
{
    ScratchFolder folder;
    const std::string path = folder.file("records.xls");
    save_on_disk(rich_workbook(), path, {.read_only_recommended = true, .create_backup = true, .user_name = {}});
    json report = read_back(path, 0);
    json records = report["records"];

    EXPECT_EQ(records["filesharing"], json({{"read_only_recommended", 1}, {"write_password", 0}, {"length", 6}}));
    EXPECT_EQ(records["window1"], json({{"flags", 0x38}, {"active", 1}, {"first_tab", 0}, {"selected_tabs", 1}}));
    // Selected and shown on the active sheet alone.
    EXPECT_EQ(records["window2"], json::array({0x00B6, 0x06B6, 0x00B6}));
    EXPECT_EQ(records["backup"], 1);
    EXPECT_EQ(records["boundsheets_at_bof"], true);
    std::vector<bool> visible, selected;
    for (const json& sheet : report["sheets"]) {
        visible.push_back(sheet["visible"] == 1);
        selected.push_back(sheet["selected"] == 1);
    }
    EXPECT_EQ(visible, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(selected, (std::vector<bool>{false, true, false}));

    Workbook minimized;
    minimized.set_active_sheet(2);
    minimized.set_window_state(WindowState::minimized);
    save_on_disk(minimized, path, {});
    records = read_back(path)["records"];
    EXPECT_EQ(records["filesharing"], nullptr);
    EXPECT_EQ(records["window1"], json({{"flags", 0x3A}, {"active", 2}, {"first_tab", 0}, {"selected_tabs", 1}}));
    EXPECT_EQ(records["window2"], json::array({0x00B6, 0x00B6, 0x06B6}));
    EXPECT_EQ(records["backup"], 0);
}

TEST(XlsWriter, SharedStringsSplitAcrossContinueRecordsAtEveryKindOfBoundary)
{
    // Lengths from 1 to 300 in one-byte and two-byte runs put record ends before headers,
    // inside headers' reach, inside one-byte runs and at odd places of two-byte runs.
    Workbook workbook;
    Worksheet& sheet = workbook.sheet(0);
    std::vector<std::u16string> texts;
    for (uint32_t i = 0; i < 900; ++i) {
        size_t length = 1 + (i * 37) % 300;
        char16_t unit = i % 3 == 0 ? static_cast<char16_t>(u'А' + i % 32) : static_cast<char16_t>(u'a' + i % 26);
        std::u16string text(length, unit);
        text += from_utf8(std::to_string(i));
        texts.push_back(text);
        sheet.set_cell({i + 1, 1}, text);
        sheet.set_cell({i + 1, 2}, text);  // every text used twice
    }
    ScratchFolder folder;
    const std::string path = folder.file("continue.xls");
    save_on_disk(workbook, path);
    json report = read_back(path, 2000);
    json sst = report["records"]["sst"];
    EXPECT_EQ(sst["unique"], 900);
    EXPECT_EQ(sst["total"], 1800);
    EXPECT_GE(sst["continue_records"], 20);
    EXPECT_EQ(sst["largest_record"], 8224);
    EXPECT_EQ(sst["extsst_per_bucket"], 8);
    EXPECT_EQ(sst["extsst_matches"], true);
    EXPECT_EQ(sst["walk_matches_cells"], true);
    json cells = report["sheets"][0]["cells"];
    ASSERT_EQ(cells.size(), 1800u);
    for (uint32_t i = 0; i < 900; ++i) {
        ASSERT_EQ(cells[2 * i], cell(i + 1, 1, "text", to_utf8(texts[i])));
        ASSERT_EQ(cells[2 * i + 1], cell(i + 1, 2, "text", to_utf8(texts[i])));
    }
}

TEST(XlsWriter, NumbersKeepEveryBitWhetherStoredCompactOrInFull)
{
    // Around the limits of the compact (RK) forms: 30-bit integers, hundredths, truncated doubles.
    const double numbers[] = {0.0,
                              1.0,
                              -1.0,
                              536870911.0,
                              536870912.0,
                              -536870912.0,
                              -536870913.0,
                              0.01,
                              0.1,
                              1.23,
                              123456.78,
                              -5368709.12,
                              1e-300,
                              5e-324,
                              1.7976931348623157e308,
                              3.141592653589793,
                              1099511627776.0,
                              -2.5,
                              -0.0,
                              0.5,
                              1e15,
                              1.0 / 3};
    Workbook workbook;
    Worksheet& sheet = workbook.sheet(0);
    uint16_t column = 1;
    for (double number : numbers) {
        sheet.set_cell({1, column}, number);  // neighbours in one row, as MULRK runs
        sheet.set_cell({column, 100}, number);  // one per row, as RK or NUMBER alone
        ++column;
    }
    ScratchFolder folder;
    const std::string path = folder.file("numbers.xls");
    save_on_disk(workbook, path);
    json cells = read_back(path)["sheets"][0]["cells"];
    std::map<std::pair<int, int>, double> read;
    for (const json& entry : cells) {
        ASSERT_EQ(entry[2], "number");
        read[{entry[0].get<int>(), entry[1].get<int>()}] = entry[3].get<double>();
    }
    for (int i = 0; i < static_cast<int>(std::size(numbers)); ++i) {
        EXPECT_EQ(std::bit_cast<uint64_t>(read[{1, i + 1}]), std::bit_cast<uint64_t>(numbers[i])) << numbers[i];
        EXPECT_EQ(std::bit_cast<uint64_t>(read[{i + 1, 100}]), std::bit_cast<uint64_t>(numbers[i])) << numbers[i];
    }
}

TEST(XlsWriter, ANewWorkbookIsOneStreamPaddedToTheSmallStreamLimit)
{
    ScratchFolder folder;
    const std::string path = folder.file("new.xls");
    save_on_disk(Workbook(), path);
    json report = read_back(path);
    EXPECT_EQ(report["container"]["streams"], json({{"Workbook", 4096}}));
    EXPECT_EQ(report["container"]["difat_sectors"], 0);
    ASSERT_EQ(report["sheets"].size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(report["sheets"][i]["name"], "Sheet" + std::to_string(i + 1));
        EXPECT_EQ(report["sheets"][i]["rows"], 0);
        EXPECT_EQ(report["sheets"][i]["selected"], i == 0 ? 1 : 0);
    }
    EXPECT_EQ(report["records"]["sst"]["unique"], 0);
    EXPECT_EQ(report["records"]["sst"]["extsst_matches"], true);
}

TEST(XlsWriter, AFullTenColumnSheetNeedsExtraFatSectorsInTheContainer)
{
    // 65,536 rows of texts and non-compact numbers: about 16 MB, beyond the 109 FAT
    // sectors (about 7 MB) that the header lists by itself.
    Workbook workbook;
    Worksheet& sheet = workbook.sheet(0);
    for (uint32_t row = 1; row <= kMaxRows; ++row) {
        for (uint16_t column = 1; column <= 10; ++column) {
            if (column % 2)
                sheet.set_cell({row, column}, row + column / 10.0 + 0.001);
            else
                sheet.set_cell({row, column}, joined("r", row, "c", column));
        }
    }
    workbook.set_active_sheet(2);
    ScratchFolder folder;
    const std::string path = folder.file("large.xls");
    save_on_disk(workbook, path);
    json report = read_back(path);
    EXPECT_GT(report["container"]["fat_sectors"], 109);
    EXPECT_GE(report["container"]["difat_sectors"], 1);
    size_t stream_size = 0;
    for (const auto& part : encode_workbook_stream(workbook, {}))
        stream_size += part.size();
    EXPECT_EQ(report["container"]["streams"]["Workbook"], stream_size);
    json first = report["sheets"][0];
    EXPECT_EQ(first["counts"], json({{"number", 327680}, {"text", 327680}}));
    EXPECT_EQ(first["first_cells"][0], cell(1, 1, "number", 1.101));
    EXPECT_EQ(first["first_cells"][1], cell(1, 2, "text", "r1c2"));
    EXPECT_EQ(first["last_cells"][4], cell(65536, 10, "text", "r65536c10"));
    EXPECT_EQ(first["last_cells"][3], cell(65536, 9, "number", 65536.901));
    EXPECT_EQ(report["sheets"][2]["selected"], 1);
    EXPECT_EQ(report["records"]["sst"]["unique"], 327680);
    EXPECT_EQ(report["records"]["sst"]["walk_matches_cells"], true);
    EXPECT_EQ(report["records"]["sst"]["extsst_matches"], true);
}

TEST(CompoundFile, StreamsOfEverySizeAndNameReadBackWhole)
{
    const std::vector<std::pair<std::u16string, size_t>> wanted = {
        {u"Workbook", 70000}, {u"a", 0}, {u"Zeta", 100}, {u"beta", 4096}, {u"SummaryInformation", 5000}};
    std::vector<std::vector<uint8_t>> contents;
    std::vector<CompoundStream> streams;
    for (const auto& [name, size] : wanted) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>((i * 7 + name.size()) % 251);
        contents.push_back(std::move(bytes));
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        std::span<const uint8_t> all(contents[i]);
        // Pieces of uneven sizes, so that the writer joins them.
        streams.push_back({wanted[i].first, {all.subspan(0, all.size() / 3), all.subspan(all.size() / 3)}});
    }
    ScratchFolder folder;
    const std::string path = folder.file("streams.cfb");
    {
        std::ofstream out(path, std::ios::binary);
        write_compound_file(streams, [&](std::span<const uint8_t> bytes) {
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        });
    }
    auto listing = run_command("gsf list " + testing::quoted(path));
    ASSERT_EQ(listing.status, 0);
    for (size_t i = 0; i < wanted.size(); ++i) {
        std::string name = to_utf8(wanted[i].first);
        size_t stored = std::max<size_t>(wanted[i].second, 4096);
        EXPECT_NE(listing.output.find(std::to_string(stored) + " " + name + "\n"), std::string::npos) << listing.output;
        auto cat = run_command("gsf cat " + testing::quoted(path) + " " + name);
        ASSERT_EQ(cat.status, 0) << name;
        ASSERT_EQ(cat.output.size(), stored);
        EXPECT_EQ(cat.output.substr(0, contents[i].size()), std::string(contents[i].begin(), contents[i].end()))
            << name;
        EXPECT_TRUE(std::all_of(cat.output.begin() + static_cast<std::ptrdiff_t>(contents[i].size()), cat.output.end(),
                                [](char c) { return c == 0; }))
            << name;
    }
}

// The first lines of a CSV file without the empty fields at their ends.
std::vector<std::string> csv_lines(const std::string& path, size_t count)
{
    std::vector<std::string> lines;
    std::istringstream in(read_bytes(path));
    for (std::string line; lines.size() < count && std::getline(in, line);)
        lines.push_back(line.substr(0, line.find_last_not_of(',') + 1));
    return lines;
}

TEST(XlsWriter, LibreOfficeReadsValuesSheetsAndTheReadOnlyRecommendation)
{
    if (!std::filesystem::exists("/usr/bin/soffice"))
        GTEST_SKIP() << "LibreOffice (libreoffice-calc-nogui) is not installed";
    ScratchFolder folder;
    const std::string path = folder.file("office.xls");
    Workbook workbook = rich_workbook();
    save_on_disk(workbook, path, {.read_only_recommended = true, .create_backup = false, .user_name = {}});
    const std::string convert = "HOME=" + folder.path().string() + " /usr/bin/soffice --headless --convert-to ";
    const std::string out =
        " --outdir " + testing::quoted(folder.path().string()) + " " + testing::quoted(path) + " >/dev/null 2>&1";
    // UTF-8 CSV, every sheet into a file of its own.
    ASSERT_EQ(
        run_command(convert + "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1'" + out)
            .status,
        0);
    EXPECT_EQ(csv_lines(folder.file("office-Summary.csv"), 3),
              (std::vector<std::string>{"Text,1234.5,Négatif €,日本語のテキスト,Text", "1,0",
                                        // LibreOffice counts no 29 February 1900, so it shows the
                                        // serials before March 1900 one day earlier than written.
                                        "02/29/2024,02/29/2024 13:45:30,06:00:00 PM,12/31/1899,02/27/1900,"
                                        "03/01/1900,12/31/1899,12/29/1899 12:00:00 PM,12/31/9999"}));
    EXPECT_EQ(csv_lines(folder.file("office-Данные.csv"), 1),
              (std::vector<std::string>{"Row 1 holds a text of moderate length,Строка 1 — данные,odd"}));
    EXPECT_TRUE(std::filesystem::exists(folder.file("office-Sheet3.csv")));

    // Only ODS keeps the recommendation and only XLSX the active tab of a converted file.
    ASSERT_EQ(run_command(convert + "ods" + out).status, 0);
    ASSERT_EQ(run_command(convert + "xlsx" + out).status, 0);
    auto member = [&](const std::string& archive, const std::string& name) {
        return run_command("/usr/bin/python3 -c \"import sys, zipfile; "
                           "sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())\" " +
                           testing::quoted(folder.file(archive)) + " " + name)
            .output;
    };
    EXPECT_NE(member("office.ods", "settings.xml")
                  .find("<config:config-item config:name=\"LoadReadonly\" config:type=\"boolean\">true<"),
              std::string::npos);
    EXPECT_NE(member("office.xlsx", "xl/workbook.xml").find(" activeTab=\"1\""), std::string::npos);
}

}  // namespace
}  // namespace varne::workbook
