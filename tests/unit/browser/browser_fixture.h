#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/automation_error.h"
#include "frame/interfaces.h"
#include "frame/late_binding.h"
#include "browser/browser.h"
#include "records/logging.h"
#include "records/timing.h"
#include "tests/support/automation_errors.h"
#include "tests/support/fake_document_model.h"
#include "tests/support/fake_window_functions.h"
#include "tests/support/manual_clock.h"
#include "tests/support/memory_file_system.h"

namespace varne::testing {

// A Browser made on a scripted document model, fake window functions, an
// in-memory file system and a manual clock (09:30:00 on 7 December 2026).
class BrowserTest : public ::testing::Test {
protected:
    static constexpr char16_t kLogName[] = u"run.log";

    explicit BrowserTest(int32_t window_handle = FakeDocumentModel::kWindowHandle) : model(window_handle) {}

    FakeApplication& app() { return model.application(); }
    Ref<Dispatch> document_of(Dispatch& window) { return to_object(get_property(window, u"Document")); }
    Ref<Dispatch> top_document() { return document_of(app()); }
    // A link whose first direct child is an image.
    Ref<FakeElement> link_with_image(const BStr& alt, const BStr& file)
    {
        auto link = model.link(u"");
        link->append(model.image(alt, file));
        return link;
    }

    void open_log() { browser->SetBrowserLog(kLogName); }
    // The file's lines, without their CR LF.
    std::vector<std::string> log_lines(const BStr& name = kLogName) const;
    // The texts of the entries written so far to the open log.
    std::vector<std::string> appended() const;

    ManualClock clock;
    MemoryFileSystem files;
    FakeWindowFunctions windows;
    FakeDocumentModel model;
    Ref<_Browser> browser = make_object<Browser>(BrowserPorts{.launcher = model.launcher(),
                                                              .windows = windows,
                                                              .clock = clock,
                                                              .logging = make_object<Logging>(files, clock),
                                                              .timing = make_object<Timing>(clock)});
};

inline std::vector<std::string> BrowserTest::log_lines(const BStr& name) const
{
    std::vector<std::string> lines;
    auto bytes = files.file(name);
    if (!bytes)
        return lines;
    size_t start = 0;
    for (size_t end; (end = bytes->find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes->substr(start, end - start));
    EXPECT_EQ(start, bytes->size()) << "the last line has no CR LF";
    return lines;
}

inline std::vector<std::string> BrowserTest::appended() const
{
    auto lines = log_lines();
    EXPECT_GE(lines.size(), 3u) << "no log is open";
    std::vector<std::string> texts;
    for (size_t stamp = 3; stamp + 2 < lines.size() && !lines[stamp].empty(); stamp += 3)
        texts.push_back(lines[stamp + 1]);
    return texts;
}

}  // namespace varne::testing
