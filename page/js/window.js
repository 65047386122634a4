// The window of the realm it runs in.
window
