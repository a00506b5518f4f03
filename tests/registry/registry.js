// Every Registry method from JScript, which passes every argument by value:
// by-reference parameters work on copies and nothing comes back through them.
var HKCU = 0x80000001 | 0;   // a 32-bit integer, not the double 2147483649
var HKU = 0x80000003 | 0;
var Base = "Software\\TarnwickTests\\registry_js";

var sh = new ActiveXObject("WScript.Shell");
function clean() {
    sh.Run("reg delete HKCU\\" + Base + " /f", 0, true);
}

clean();
var reg = new ActiveXObject("TarnwickDLL.Registry");

// RegCreateKey
same(reg.RegCreateKey("HKCU", Base + "\\a\\b"), 1, "RegCreateKey new");
same(reg.RegCreateKey("HKCU", Base + "\\a\\b"), 2, "RegCreateKey existing");
same(reg.RegCreateKey("HKEY_CURRENT_USER", Base + "\\a"), 2, "RegCreateKey made the parent");
same(reg.RegCreateKey("hkcu", Base + "\\x"), 0, "RegCreateKey lower-case root");
same(typeof reg.RegCreateKey("HKCU", Base), "number", "RegCreateKey result type");

// CreateRegKey: KeyStatus is a value here
var status = 99;
same(reg.CreateRegKey(HKCU, Base + "\\c", status), true, "CreateRegKey new");
same(status, 99, "KeyStatus is not written back");
same(reg.CreateRegKey(HKCU, Base + "\\c", 0), true, "CreateRegKey existing");
same(reg.CreateRegKey(0, Base + "\\d", 0), false, "CreateRegKey under no root");
same(reg.RegCreateKey("HKCU", Base + "\\d"), 1, "CreateRegKey under no root made nothing");

// SetRegValue and QueryRegValue
var wide = "caf\u00E9 \u6771\u4EAC \u0142 \u20AC";
same(reg.SetRegValue(HKCU, Base, "v", "hello"), true, "SetRegValue");
same(reg.SetRegValue(HKCU, Base, "l", "neighbour"), true, "SetRegValue, a neighbour");
same(reg.SetRegValue(HKCU, Base, "wide", wide), true, "SetRegValue, text outside the code page");
same(wide, "caf\u00E9 \u6771\u4EAC \u0142 \u20AC", "the argument stays");
same(sh.RegRead("HKCU\\" + Base + "\\wide"), wide, "stored whole");
same(reg.SetRegValue(HKCU, Base, "\u0142", "ell"), true, "SetRegValue, a name outside the code page");
same(sh.RegRead("HKCU\\" + Base + "\\l"), "neighbour", "its look-alike name untouched");
same(reg.QueryRegValue(HKCU, Base, "wide", ""), true, "QueryRegValue, text outside the code page");
same(reg.RegReadString("HKCU", Base, "wide"), wide, "RegReadString, text outside the code page");
same(reg.SetRegValue(HKCU, Base + "\\missing", "v", "x"), false, "SetRegValue, missing key");
same(reg.QueryRegValue(HKCU, Base, "v", ""), true, "QueryRegValue");
same(reg.QueryRegValue(HKCU, Base, "nope", ""), false, "QueryRegValue, missing value");
same(reg.QueryRegValue(-2147483647, Base, "v", ""), true, "HKCU as a negative literal");
var threw = false;
try {
    reg.QueryRegValue(0x80000001, Base, "v", "");
} catch (e) {
    threw = true;
}
check(threw, "the double 2147483649 does not fit a Long");

// RegReadString and RegWriteString
same(reg.RegReadString("HKCU", Base, "v"), "hello", "RegReadString");
same(reg.RegReadString("HKEY_CURRENT_USER", Base, "nope"), "", "RegReadString, missing value");
same(reg.RegReadString("Hkcu", Base, "v"), "", "RegReadString mixed-case root");
same(reg.RegReadString("HKEY_USERS", ".DEFAULT\\" + Base, "u"), "", "RegReadString HKEY_USERS by name");
same(reg.RegWriteString("HKCU", Base, "w", "written"), 1, "RegWriteString");
same(sh.RegRead("HKCU\\" + Base + "\\w"), "written", "RegWriteString stored");
same(reg.RegWriteString("HKCU ", Base, "w", "no"), 0, "RegWriteString root with a blank");
same(reg.RegWriteString("HKCU", Base + "\\missing", "w", "no"), 0, "RegWriteString, missing key");
same(reg.RegWriteString("HKCU", Base, "", "dflt"), 1, "RegWriteString default value");
same(reg.RegReadString("HKCU", Base, ""), "dflt", "RegReadString default value");

// HKEY_USERS by handle value
var users = ".DEFAULT\\" + Base;
same(reg.CreateRegKey(HKU, users, 0), true, "CreateRegKey under HKEY_USERS");
same(reg.SetRegValue(HKU, users, "u", "users"), true, "SetRegValue under HKEY_USERS");
same(reg.QueryRegValue(HKU, users, "u", ""), true, "QueryRegValue under HKEY_USERS");
sh.Run("reg delete HKU\\" + users + " /f", 0, true);

// Release 1.12: copy, find, last write, security, export and import;
// arrays as in 1.11, read with VBArray.
reg.RegWriteValue("HKCU", Base + "\\src\\deep", "Tags", ["alpha", "beta"]);
same(reg.RegCopyKey("HKCU", Base + "\\src", "HKCU", Base + "\\dst"), true, "RegCopyKey");
var refused = 0;
try {
    reg.RegCopyKey("HKCU", Base + "\\src", "HKCU", Base.toUpperCase() + "\\SRC\\deep\\copy");
} catch (e) {
    refused = e.number & 0xFFFF;
}
same(refused, 5, "RegCopyKey into its own subtree");
same(reg.RegKeyExists("HKCU", Base + "\\src\\deep\\copy"), false, "nothing copied into itself");
var found = new VBArray(reg.RegFind("HKCU", Base + "\\dst", "b*", "Data")).toArray();
same(found.length, 1, "RegFind, one match");
same(new VBArray(found[0]).toArray().join("|"), Base + "\\dst\\deep|Tags|Data", "RegFind's match");
check(/^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/.test(reg.RegKeyLastWrite("HKCU", Base + "\\dst")),
      "RegKeyLastWrite");
same(reg.RegSetSecurity("HKCU", Base + "\\dst", "D:P(A;;KR;;;WD)"), true, "RegSetSecurity");
same(reg.RegGetSecurity("HKCU", Base + "\\dst").indexOf("D:P(A;;KR;;;WD)") >= 0, true, "RegGetSecurity");
same(reg.RegCheckAccess("HKCU", Base + "\\dst", "Write"), false, "RegCheckAccess, denied");
same(reg.RegSetSecurity("HKCU", Base + "\\dst", "D:P(A;;KA;;;WD)"), true, "RegSetSecurity again");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var file = fso.BuildPath(fso.GetSpecialFolder(2), "tarnwick-registry-js.reg");  // 2: temporary
same(reg.RegExportKey("HKCU", Base + "\\src", file), true, "RegExportKey");
same(reg.RegDeleteKey("HKCU", Base + "\\src", true), true, "the exported key deleted");
same(reg.RegImportFile(file), 1, "RegImportFile, one value");
same(new VBArray(reg.RegReadValue("HKCU", Base + "\\src\\deep", "Tags")).toArray().join(","),
     "alpha,beta", "imported back");
fso.DeleteFile(file);

reg = null;
clean();

finish();
