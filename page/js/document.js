// The document of the realm it runs in.
document
