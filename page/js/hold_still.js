// Stops a page that a navigation of the window is about to replace from sending the window
// anywhere else first: its own load ends, its timers are cleared, and its frames, whose scripts
// may send the window away too, are taken out.
(() => {
  window.stop();
  const newest = setTimeout(() => {}, 0);
  for (let id = 1; id <= newest; ++id) {
    clearTimeout(id);
    clearInterval(id);
  }
  for (const frame of document.querySelectorAll('iframe, frame, object, embed'))
    frame.remove();
})()
