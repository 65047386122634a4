// Helpers of the object and collection tasks, included in each.
// resolve: a member by its exact name, else by the same name in another case, as the old object
// model's scripts wrote names freely; member: as resolve, failing with the marker that the model
// turns into "Object doesn't support this property or method" for a name the object lacks.
const resolve = (o, n) => { if (n in o) return n; const l = n.toLowerCase();
  for (const k in o) { if (k.toLowerCase() === l) return k; } return null; };
const member = (o, n) => { const r = resolve(o, n);
  if (r === null) throw new ReferenceError('varne:no-member:' + n); return r; };
// The properties that the library reads itself; nameProp is the file name of an image's or link's address.
const prop = (e, p) => { if (p === 'nameProp') { const s = e.src || e.href || ''; if (!s) return '';
  try { return new URL(s, e.ownerDocument.baseURI).pathname.split('/').pop(); } catch (x) { return ''; } }
  const v = e[p]; return v === undefined || v === null ? '' : String(v); };
