// Browser through Varne.dll from JScript: a page, a frame, a confirm answered, errors as numbers.
var site = WScript.Arguments(0);
var browser = new ActiveXObject("Varne.Browser");
browser.SetBrowserLog(WScript.Arguments(1));
browser.GotoURL(site + "frames.html");
var document = browser.GetBrowser().Document;
check("frames", document.frames.length, 3);
check("frame loaded", browser.FrameGotoURL(2, site + "frame_b.html"), 0);
browser.GotoURL(site + "dialogs.html");
document = browser.GetBrowser().Document;
check("confirm asked", browser.ClickLink(document, "Ask"), 0);
check("OK", browser.PopupClickOk(), 0);
check("confirmed", document.getElementById("out").innerText, "true");
try {
    browser.FrameGotoURL(40000, site + "frame_b.html");
    check("overflow raised", false, true);
} catch (e) {
    check("overflow", e.number, 0x800A0006 | 0);
}
browser.CloseBrowserLog();
