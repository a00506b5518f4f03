' Time from VBScript: created by ProgID, both methods late bound, the local
' time checked against the script host's own clock. Reboot is created to
' show that it can be, and not called.
Function SecondsOf(text)
    SecondsOf = CLng(Left(text, 2)) * 3600 + CLng(Mid(text, 4, 2)) * 60 + CLng(Right(text, 2))
End Function

' Distance on a 24-hour clock, -43200 to 43199 seconds
Function ClockDifference(a, b)
    Dim d
    d = ((b - a) Mod 86400 + 86400) Mod 86400
    If d >= 43200 Then d = d - 86400
    ClockDifference = d
End Function

Dim clock, re, utc, localText, before, after
Set clock = CreateObject("TarnwickDLL.Time")
Set re = New RegExp
re.Pattern = "^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$"

utc = clock.CurrentGMTTime
Check TypeName(utc) = "String", "CurrentGMTTime is a " & TypeName(utc)
Check re.Test(utc), "CurrentGMTTime = """ & utc & """"

before = Hour(Time) * 3600 + Minute(Time) * 60 + Second(Time)
localText = clock.CurrentLocalTime
after = Hour(Time) * 3600 + Minute(Time) * 60 + Second(Time)
Check TypeName(localText) = "String", "CurrentLocalTime is a " & TypeName(localText)
Check re.Test(localText), "CurrentLocalTime = """ & localText & """"
If re.Test(localText) Then
    Check ClockDifference(before, SecondsOf(localText)) >= -2 And ClockDifference(SecondsOf(localText), after) >= -2, _
        "CurrentLocalTime " & localText & " is not the script's time " & Time
End If

Dim restart
Set restart = CreateObject("TarnwickDLL.Reboot")
Check IsObject(restart), "TarnwickDLL.Reboot was not created"

Finish
