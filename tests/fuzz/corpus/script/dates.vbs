Function Main()
  Main = DateAdd("d", 1, #2020-01-31#) & FormatNumber(1234.5, 2) & Replace("a,b", ",", ";") & Split("a b c")(1)
End Function
