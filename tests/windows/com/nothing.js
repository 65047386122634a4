// Page results that find no object reach JScript as null, whichever of the two nulls COM carries.
var site = WScript.Arguments(0);
var browser = new ActiveXObject("Varne.Browser");
browser.GotoURL(site + "dialogs.html");
var document = browser.GetBrowser().Document;
check("a missing id", document.getElementById("none") === null, true);
check("a selector that matches nothing", document.querySelector("table.none") === null, true);
check("the document has no parent", document.parentNode === null, true);
check("an element that is there", document.getElementById("out").innerText, "none");
check("a missing attribute", document.getElementById("out").getAttribute("missing") === null, true);
