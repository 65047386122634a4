// The page's markup as a person saves it: its doctype, then its root element.
(document.doctype ? new XMLSerializer().serializeToString(document.doctype) + '\n' : '')
  + document.documentElement.outerHTML
