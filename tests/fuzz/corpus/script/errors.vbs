Function Main()
  On Error Resume Next
  Err.Raise 5
  Main = Err.Number & Err.Description
  On Error Goto 0
End Function
