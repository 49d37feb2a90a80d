Function Main()
  Do
  Loop
End Function
