// A task on an element collection, read afresh from `this` on every use: `kind` names it ('self'
// for `this` itself, 'all', 'links', 'forms', 'children' or 'elements'), and the first `tagCount`
// arguments after it narrow it to elements of those tag names in turn; the task's own arguments follow.
function (task, kind, tagCount, ...rest) {
  // include: members.js
  const tags = rest.slice(0, tagCount);
  const a = rest.slice(tagCount);
  let c;
  let narrowed = 0;
  switch (kind) {
  case 'self': c = this; break;
  case 'all':
    if (tags.length) { c = this.getElementsByTagName(tags[0]); narrowed = 1; } else { c = this.all; }
    break;
  case 'links': c = this.links; break;
  case 'forms': c = this.forms; break;
  case 'children': c = this.children; break;
  case 'elements':
    c = this.elements || (() => { throw new ReferenceError('varne:no-member:elements'); })();
    break;
  default: throw new TypeError('varne: no collection ' + kind);
  }
  for (const tag of tags.slice(narrowed))
    c = Array.prototype.filter.call(c, e => e.tagName && e.tagName.toUpperCase() === tag.toUpperCase());
  const firstImage = e => Array.prototype.find.call(e.children, k => k.tagName.toUpperCase() === 'IMG');
  switch (task) {
  case 'length':
    return c.length;
  case 'item': {
    const e = c.item ? c.item(a[0]) : c[a[0]];
    return e === undefined ? null : e;
  }
  case 'itemAt': {
    const e = c.item ? c.item(a[0]) : c[a[0]];
    return a[0] < c.length ? e : undefined;
  }
  case 'namedItem':
    return c.namedItem ? c.namedItem(a[0]) : null;
  case 'readEach':
    return Array.from(c, e => prop(e, a[0]));
  case 'readEachFirstImage':
    return Array.from(c, e => {
      const i = firstImage(e);
      return i ? prop(i, a[0]) : null;
    });
  case 'countNamed': {
    // Trims only U+0020 and compares UTF-16 code units, as the library does with texts it reads back.
    if (c.length > a[3]) return -1;
    const named = s => {
      let from = 0, to = s.length;
      while (from < to && s.charCodeAt(from) === 32) from++;
      while (to > from && s.charCodeAt(to - 1) === 32) to--;
      return to - from === a[2].length && s.slice(from, to) === a[2];
    };
    let count = 0;
    for (const e of Array.from(c)) {
      const i = a[1] ? firstImage(e) : e;
      if (i && named(prop(i, a[0]))) count++;
    }
    return count;
  }
  case 'get':
    return c[member(c, a[0])];
  case 'call': {
    const f = c[member(c, a[0])];
    if (typeof f !== 'function') throw new ReferenceError('varne:no-member:' + a[0]);
    return f.apply(c, a.slice(1));
  }
  }
  throw new TypeError('varne: no task ' + task);
}
