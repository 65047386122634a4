#include "frame/descriptions.h"

namespace varne {

namespace {

constexpr std::string_view kDocument =
    "the page's document, as GetBrowser().Document or a frame's document gives it (not the browser application)";
constexpr std::string_view kLinkOccurrence =
    "which of the matching links to click, counted from 0 (0 is the first match)";

std::vector<ClassDescription> make_descriptions()
{
    return {
        {u"Browser",
         "Drives one browser window: loads pages and frames, waits until they are ready, answers questions about "
         "a document, clicks links and form buttons, and answers JavaScript dialogs. Every action that changes "
         "something is timed and written to the browser's log.",
         {
             {u"SetBrowserLog",
              "Opens the browser's log file and writes its header; from then on every action is logged.",
              {{u"LogName", "the log file to create (an existing file is replaced)"}},
              {},
              {}},
             {u"CloseBrowserLog",
              "Writes the log's footer (closing time and run time) and closes the file.",
              {},
              {},
              {}},
             {u"GetBrowserHWnd", "The handle of the browser's top-level window.", {}, "the window handle", {}},
             {u"GetBrowser",
              "The browser application itself, with the names scripts of the old browser know: Document, "
              "LocationURL, ReadyState, Navigate, Visible, HWND, and this library's SaveScreenshot and "
              "SavePageSource.",
              {},
              "the browser application object",
              {}},
             {u"FrameGotoURL",
              "Loads an address into one frame of the page and waits until the page is ready again; logs the load "
              "with its time.",
              {{u"FrameNumber", "the frame's position among the page's frames, counted from 0"},
               {u"URL", "the address to load"}},
              "a result code",
              {{"0", "the frame was told to load the address"},
               {"-1", "the page has no frame with that number (logged as \"Invalid frame number\")"}}},
             {u"GotoURL",
              "Loads an address into the whole window and waits until the page, its frames and applets are "
              "ready; logs \"Browser set to\" the address with the time it took.",
              {{u"URL", "the address to load"}},
              {},
              {}},
             {u"WaitForBrowser",
              "Waits until the page, each of its applets and each of its frames have finished loading, for at "
              "most 30 seconds per part.",
              {},
              "a result code",
              {{"0", "everything is ready"}, {"-1", "a part did not become ready in time (the log says which)"}}},
             {u"WaitForFrame",
              "Waits until one frame's document, its frames and applets have finished loading.",
              {{u"Window", "the frame's window, for instance document.frames.item(0)"}},
              "a result code",
              {{"0", "the frame is ready"}, {"-1", "a part did not become ready in time (the log says which)"}}},
             {u"MatchInnerText",
              "Compares the text of one element, chosen by tag name and position, with a text; spaces at both "
              "ends are trimmed, case counts.",
              {{u"Document", kDocument},
               {u"SearchString", "the text looked for"},
               {u"Tag", "the tag name of the element, such as \"H1\" or \"TD\""},
               {u"MatchType", "how to compare: brwExactMatch (whole text), brwLeftMatch (its beginning) or "
                              "brwRightMatch (its end)"},
               {u"Occurrence", "which element with that tag name, counted from 0"}},
              "a result code",
              {{"0", "the element's text matches"},
               {"1", "it does not match"},
               {"-1", "MatchType is not 1, 2 or 3 (only reported when the element exists)"},
               {"-2", "the document has no element at that position with that tag name"}}},
             {u"FormExists",
              "Finds a form by its name.",
              {{u"Document", kDocument}, {u"FormName", "the form's name attribute"}},
              "the form's position, for document.forms.item(position)",
              {{"0 or more", "the position of the first form with that name"}, {"-1", "no form has that name"}}},
             {u"ImageExists",
              "Counts the images identified by a text.",
              {{u"Document", kDocument},
               {u"ImageText", "the text that identifies the image"},
               {u"IdentMethod", "what the text is compared with: brwImgAlt (the alternate text) or brwImgSrc (the "
                                "file name of the image's address)"}},
              "a count or a result code",
              {{"1 or more", "the number of matching images"},
               {"-1", "no image matches, or the page has no image"},
               {"-2", "IdentMethod is neither 1 nor 2 (only reported when the page has an image)"}}},
             {u"LinkExists",
              "Counts the links identified by a text.",
              {{u"Document", kDocument},
               {u"LinkText", "the text that identifies the link"},
               {u"IdentMethod", "what the text is compared with: brwInnerText (the link's text), brwImgAlt or "
                                "brwImgSrc (its image's alternate text or file name)"}},
              "a count or a result code",
              {{"0 or more", "the number of matching links (0 when none matches)"},
               {"-1", "IdentMethod is not 1, 2 or 3 (only reported when the page has a link)"}}},
             {u"ClickLink",
              "Clicks a link identified by its text or its image, waits for the page that follows and logs the "
              "click with its time.",
              {{u"Document", kDocument},
               {u"LinkText", "the text that identifies the link"},
               {u"IdentMethod", "what the text is compared with: brwInnerText (the link's text), brwImgAlt or "
                                "brwImgSrc (its image's alternate text or file name)"},
               {u"Occurrence", kLinkOccurrence}},
              "a result code",
              {{"0", "the link was clicked"},
               {"-1", "no link matched at that occurrence (by text, logged as \"Text link not found\")"},
               {"-2", "IdentMethod is not 1, 2 or 3; nothing is read or logged"}}},
             {u"ClickFormButton",
              "Clicks a button of a form by its caption, waits for the page that follows and logs the click with "
              "its time.",
              {{u"FormElement", "the form, for instance document.forms.item(browser.FormExists(document, \"login\"))"},
               {u"Button", "the button's caption (its value)"},
               {u"Occurrence", "which of the buttons with that caption, counted from 0"}},
              "a result code",
              {{"0", "the button was clicked"}, {"-1", "no button matched at that occurrence"}}},
             {u"PopupClickOk",
              "Answers the page's JavaScript dialog (alert, confirm, prompt) with OK, waiting up to 30 seconds for "
              "one to appear (less after SetPopupTimeout); logs the click with its time.",
              {},
              "a result code",
              {{"0", "OK was clicked"},
               {"-1", "no dialog appeared within 30 seconds (\"Popup window timed out\")"},
               {"-2", "the dialog's window could not be found (\"Error locating popup window\")"},
               {"-3", "the dialog has no such button (\"Error clicking button\")"}}},
             {u"PopupClickCancel",
              "Answers the page's JavaScript dialog with Cancel, as PopupClickOk does with OK; an alert has no "
              "Cancel button.",
              {},
              "a result code",
              {{"0", "Cancel was clicked"},
               {"-1", "no dialog appeared within 30 seconds (\"Popup window timed out\")"},
               {"-2", "the dialog's window could not be found (\"Error locating popup window\")"},
               {"-3", "the dialog has no Cancel button, as an alert (\"Error clicking button\")"}}},
             {u"GetLastActionMilliseconds",
              "The time of the last timed action (GotoURL, FrameGotoURL, ClickLink, ClickFormButton, PopupClickOk, "
              "PopupClickCancel) in milliseconds, measured as its log line's time in whole seconds is: the same "
              "span, from a clock that a change of the system's date-time does not move.",
              {},
              "the milliseconds; -1 before the first timed action",
              {},
              true},
             {u"WaitForText",
              "Waits until a text shows in the page: in the visible text (innerText of the body) of the top "
              "document or of any frame's document, looking at once and then every 100 ms. Case counts; spaces "
              "around the text are trimmed, as MatchInnerText trims them. Frames of another origin cannot be read "
              "and are passed over.",
              {{u"Text", "the text looked for, anywhere in the page's visible text"},
               {u"Seconds", "how long to wait, 0 or more; 0 looks once"}},
              "a result code",
              {{"0", "the text is shown"},
               {"-1", "it was not shown within Seconds (logged as Text \"...\" not shown after N seconds)"}},
              true},
             {u"WaitForElement",
              "Waits until an element that a CSS selector matches is in the page: in the top document or in any "
              "frame's document, looking at once and then every 100 ms. Frames of another origin cannot be read "
              "and are passed over; a selector the browser cannot parse raises its error at once.",
              {{u"Selector", "a CSS selector, as document.querySelector takes it, such as \"#total\" or "
                             "\"table.results tr\""},
               {u"Seconds", "how long to wait, 0 or more; 0 looks once"}},
              "a result code",
              {{"0", "such an element is in the page"},
               {"-1", "none came within Seconds (logged as Element \"...\" not found after N seconds)"}},
              true},
             {u"SetPopupTimeout",
              "Sets how long PopupClickOk and PopupClickCancel search for a dialog before they answer -1; "
              "30 seconds until set.",
              {{u"Seconds", "1 to 30"}},
              {},
              {},
              true},
         }},
        {u"Config",
         "Key/value settings kept in memory and read from or written to a KEY=value text file. Keys ignore case.",
         {
             {u"Load",
              "Empties the settings, then reads them from a file.",
              {{u"Filename", "the settings file to read"}},
              "a result code",
              {{"0", "the file was read"},
               {"-1", "Filename is empty or no such file exists (the settings stay empty)"}}},
             {u"Save",
              "Writes every setting to a file, replacing it whole only once the new file is complete.",
              {{u"Filename", "the settings file to write"}},
              "nothing, or a result code",
              {{"None", "the file was written"}, {"-1", "Filename is empty; nothing is written"}}},
             {u"RemoveAll", "Removes every setting.", {}, {}, {}},
             {u"SetItem",
              "Sets a key's value, adding the key when it is new.",
              {{u"Key", "the key (case is ignored)"}, {u"Value", "its value"}},
              {},
              {}},
             {u"GetItem",
              "The value of a key.",
              {{u"Key", "the key (case is ignored)"}},
              "the value; the empty string for a key that is not set",
              {}},
             {u"UnSetItem",
              "Removes a key; nothing happens for a key that is not set.",
              {{u"Key", "the key (case is ignored)"}},
              {},
              {}},
         }},
        {u"Logging",
         "A timestamped text log: a header, one entry per AppendLog under its time, and a footer with the run "
         "time.",
         {
             {u"IsOpen", "Whether a log is open.", {}, "-1 (true) when a log is open, 0 when not", {}},
             {u"StartLog",
              "Creates the log file and writes its header.",
              {{u"Filename", "the log file to create (an existing file is replaced)"}},
              "a result code",
              {{"0", "the log was started"},
               {"-1", "Filename is empty"},
               {"-2", "a log is open already (it goes on unchanged)"}}},
             {u"AppendLog",
              "Writes one entry: the time, then the text.",
              {{u"Data", "the entry's text"}},
              "a result code",
              {{"0", "the entry was written"}, {"-1", "no log is open"}}},
             {u"EndLog", "Writes the footer and closes the log; nothing happens when none is open.", {}, {}, {}},
             {u"GetLogName", "The open log's file name.", {}, "the name; empty when no log is open", {}},
         }},
        {u"Timing",
         "Named stopwatches, to the whole second (and, with GetLapsedMilliseconds, to the millisecond).",
         {
             {u"GetStartTime",
              "When a stopwatch was started.",
              {{u"TimingName", "the stopwatch's name"}},
              "a datetime; the integer -1 for an unknown name",
              {}},
             {u"GetEndTime",
              "When a stopwatch was ended.",
              {{u"TimingName", "the stopwatch's name"}},
              "a datetime; the integer -1 for an unknown name",
              {}},
             {u"GetLapsed",
              "The whole seconds between a stopwatch's start and end.",
              {{u"TimingName", "the stopwatch's name"}},
              "the seconds; -1 for an unknown name",
              {}},
             {u"StartTiming",
              "Starts a stopwatch, creating it when the name is new.",
              {{u"TimingName", "the stopwatch's name"}},
              {},
              {}},
             {u"EndTiming",
              "Ends a stopwatch; nothing happens for an unknown name.",
              {{u"TimingName", "the stopwatch's name"}},
              {},
              {}},
             {u"LapsedString",
              "The lapsed time as text, such as '0 days 00:00:02'.",
              {{u"TimingName", "the stopwatch's name"}},
              "the text; '<unknown timing>' for an unknown name",
              {}},
             {u"GetLapsedMilliseconds",
              "The milliseconds between a stopwatch's start and end, or until now while it runs, from a clock that "
              "a change of the system's date-time does not move.",
              {{u"TimingName", "the stopwatch's name"}},
              "the milliseconds; -1 for an unknown name",
              {},
              true},
         }},
        {u"ExcelConn",
         "A spreadsheet application with one new workbook, saved as a .xls file.",
         {
             {u"GetXL",
              "The spreadsheet application, with its Workbooks, Sheets, Cells and Range.",
              {},
              "the spreadsheet application object",
              {}},
             {u"SaveWorkbook",
              "Saves the active workbook as a .xls file, with a chosen sheet shown first; the file is replaced "
              "whole only once the new one is complete.",
              {{u"Filename", "the workbook file to write"},
               {u"DefaultSheet", "the name of the sheet to show first; empty keeps the active sheet"}},
              {},
              {}},
         }},
    };
}

std::vector<AdditionDescription> make_additions()
{
    constexpr std::string_view kApplication = "the browser application (GetBrowser())";
    return {
        {kApplication,
         {u"SaveScreenshot",
          "Saves a PNG picture of the page as the window shows it, headless too; the file is replaced whole only "
          "once complete.",
          {{u"Path", "the PNG file to write"}},
          {},
          {}}},
        {kApplication,
         {u"SavePageSource",
          "Saves the HTML of the page as it is now (after its scripts ran), in UTF-8; the file is replaced whole "
          "only once complete.",
          {{u"Path", "the HTML file to write"}},
          {},
          {}}},
    };
}

}  // namespace

const std::vector<ClassDescription>& class_descriptions()
{
    static const std::vector<ClassDescription> descriptions = make_descriptions();
    return descriptions;
}

const std::vector<AdditionDescription>& addition_descriptions()
{
    static const std::vector<AdditionDescription> additions = make_additions();
    return additions;
}

const ClassDescription* find_class_description(std::u16string_view class_name)
{
    for (const auto& cls : class_descriptions()) {
        if (cls.name == class_name)
            return &cls;
    }
    return nullptr;
}

const MemberDescription* find_member_description(std::u16string_view class_name, std::u16string_view member_name)
{
    const auto* cls = find_class_description(class_name);
    if (!cls)
        return nullptr;
    for (const auto& member : cls->members) {
        if (member.name == member_name)
            return &member;
    }
    return nullptr;
}

std::string_view find_param_description(const MemberDescription& member, std::u16string_view param_name)
{
    for (const auto& param : member.params) {
        if (param.name == param_name)
            return param.text;
    }
    return {};
}

}  // namespace varne
