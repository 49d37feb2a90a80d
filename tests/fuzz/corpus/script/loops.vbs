Function Main()
  Dim i, s, a(3)
  For i = 1 To 10 Step 2
    s = s & i
  Next
  Do While Len(s) < 20
    s = s & "x"
  Loop
  a(1) = Mid(s, 2, 3)
  Main = Join(a, "-")
End Function
