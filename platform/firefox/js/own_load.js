// Called in a top document once it has been parsed, with a channel back to the library and the
// navigation that brought the document: sends the navigation once the document's own images and
// fonts have come (loaded or failed), whatever its frames do. Firefox can tell the parse before
// the requests for them, so their coming is watched here, in the document.
function (tell, navigation) {
    const settled = (element) => new Promise((resolve) => {
        element.addEventListener("load", resolve, {once: true});
        element.addEventListener("error", resolve, {once: true});
    });
    const images = Array.from(document.images).filter((image) => !image.complete && image.loading !== "lazy");
    Promise.all(images.map(settled)).then(() => document.fonts.ready).then(() => tell(navigation));
}
