' Cold start: a fresh script host, one object, one call.
WScript.Echo CreateObject("TarnwickDLL.Time").CurrentGMTTime
