// Config through Varne.dll from JScript: load, save, and the overflow as JScript numbers it.
var folder = WScript.Arguments(0) + "\\";
var config = new ActiveXObject("Varne.Config");
check("loads", config.Load(folder + "rig.cfg"), 0);
check("value", config.GetItem("server"), "beta");
check("save gives nothing", config.Save(folder + "out-js.cfg"), undefined);
try {
    config.Load(folder + "long.cfg");
    check("overflow raised", false, true);
} catch (e) {
    check("overflow number", e.number, 0x800A0006 | 0);
    check("overflow description", e.description, "Overflow");
}
