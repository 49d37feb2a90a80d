Function Main()
  Select Case Source.Count
  Case 1, 2
    Main = "few"
  Case Else
    Main = IIf(Source.Count > 2, CDbl("1.5") * 2, Null)
  End Select
End Function
