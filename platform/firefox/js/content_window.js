// Called on a frame or iframe element: its window, which Firefox hands back as the browsing
// context of the frame.
function () {
    return this.contentWindow;
}
