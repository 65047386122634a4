// A task on one object of the page, bound to `this`: reading, writing or calling a member by any
// DOM name, calling the object itself, and the few reads that the library makes of elements.
function (task, ...a) {
  // include: members.js
  switch (task) {
  case 'get':
    return this[member(this, a[0])];
  case 'put': {
    const r = resolve(this, a[0]);
    this[r === null ? a[0] : r] = a[1];
    return;
  }
  case 'call': {
    const f = this[member(this, a[0])];
    if (typeof f !== 'function') throw new ReferenceError('varne:no-member:' + a[0]);
    return f.apply(this, a.slice(1));
  }
  case 'default':
    if (typeof this === 'function') return this(...a);
    if (typeof this.item === 'function') {
      if (typeof a[0] === 'string' && this.namedItem) return this.namedItem(a[0]);
      return this.item(a[0]);
    }
    throw new ReferenceError('varne:no-member:(default member)');
  case 'property':
    return prop(this, a[0]);
  case 'documentReadyState':
    return this.readyState;
  case 'elementReadyState': {
    const v = this.readyState;
    if (v !== undefined) return v;
    return ['APPLET', 'OBJECT', 'EMBED'].includes(this.tagName) ? 4 : undefined;
  }
  case 'frameElement':
    return this.defaultView && this.defaultView.frameElement;
  case 'click':
    this.click();
    return;
  }
  throw new TypeError('varne: no task ' + task);
}
