// Enumerator through Varne.dll from JScript over the page's collections and the workbook's
// sheets, against the test site (first argument, ending in "/"); what is no collection.
var site = WScript.Arguments(0);

function joined(collection, read) {
    var texts = [];
    for (var walk = new Enumerator(collection); !walk.atEnd(); walk.moveNext())
        texts.push(read(walk.item()));
    return texts.join("|");
}

var browser = new ActiveXObject("Varne.Browser");
browser.GotoURL(site + "index.html");
var document = browser.GetBrowser().Document;
check("links", joined(document.links, function (link) { return link.innerText; }), "Next|Next|Slow page");
var walk = new Enumerator(document.links);
walk.moveNext();
walk.moveNext();
walk.moveFirst();
check("moved back to the first", walk.item().innerText, "Next");
check("an empty collection", new Enumerator(document.applets).atEnd(), true);
check("all", joined(document.all, function (element) { return element.tagName; }).split("|").length,
      document.all.length);

browser.GotoURL(site + "frames.html");
check("frames", joined(browser.GetBrowser().Document.frames, function (frame) { return frame.document.title; }),
      "Frame A|Nested|Slow frame");
try {
    new Enumerator(browser);
    check("not a collection raises", "no error", "an error");
} catch (e) {
    // Wine's Enumerator reports any failure of _NewEnum as E_INVALIDARG, without its text.
    check("not a collection", e.number, 0x80070057 | 0);
}

var conn = new ActiveXObject("Varne.ExcelConn");
check("sheets", joined(conn.GetXL().ActiveWorkbook.Sheets, function (sheet) { return sheet.Name; }),
      "Sheet1|Sheet2|Sheet3");
