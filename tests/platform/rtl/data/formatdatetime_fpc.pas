program d;
{$mode delphi}
uses SysUtils;
const F: array[0..21] of string = ('dd.mm.yyyy','d/m/yy','hh:nn:ss.zzz','h:n:s.z','yyyymmddhhnnsszzz','hh:mm','ddd dddd',
 'mmm mmmm','h:nn am/pm','hh AM/PM','h a/p','h ampm','c','ddddd','dddddd','t','tt','yy yyyy','"lit" d','m/d/y','hh:mm:ss','dd mmmm yyyy');
var fs: TFormatSettings; i, j: integer; V: array[0..5] of TDateTime;
begin
  fs := DefaultFormatSettings;
  fs.DateSeparator := '.'; fs.TimeSeparator := ':'; fs.ShortDateFormat := 'dd/mm/yyyy'; fs.LongDateFormat := 'dddd, d mmmm yyyy';
  fs.ShortTimeFormat := 'hh:nn'; fs.LongTimeFormat := 'hh:nn:ss'; fs.TimeAMString := 'AM'; fs.TimePMString := 'PM';
  V[0] := EncodeDate(2024,3,5) + EncodeTime(14,7,9,45);
  V[1] := EncodeDate(2024,3,5) + EncodeTime(0,30,0,0);
  V[2] := EncodeDate(1999,12,31);
  V[3] := -1.25;
  V[4] := EncodeDate(987,3,5) ; V[4] := V[4] - EncodeTime(7,8,9,0);
  V[5] := 0.5;
  for j := 0 to High(V) do
    for i := 0 to High(F) do
      writeln(FloatToStrF(V[j], ffGeneral, 17, 0), #9, F[i], #9, FormatDateTime(F[i], V[j], fs));
end.
