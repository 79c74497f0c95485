{ Compiles an HTML Help project (.hhp) into a .chm, as Debian's chmcmd does,
  with Free Pascal's own CHM writer. cmake/help.cmake builds it against a
  copy of that writer's project unit whose topic map names each mapped page
  as the project does ("main.htm"): the 3.2.2 unit prefixes the folder of
  the project file, an absolute path of the build machine, and HTML Help
  then finds no page for the topic number. }
program chm_compiler;
{$mode objfpc}{$H+}
uses {$ifdef unix}cwstring,{$endif} Classes, SysUtils, chmfilewriter;

var
  Failed: Boolean = False;

procedure Report(Project: TChmProject; Kind: TChmProjectErrorKind; Msg: string; Level: Integer = 0);
begin
  if Kind in [chmError, chmWarning] then
    WriteLn(StdErr, ExtractFileName(Project.FileName), ': ', Msg);
  if Kind = chmError then Failed := True;
end;

var
  Project: TChmProject;
  Output: TFileStream;
begin
  if ParamCount <> 1 then
  begin
    WriteLn(StdErr, 'usage: chm_compiler PROJECT.hhp');
    Halt(2);
  end;
  Project := TChmProject.Create;
  Project.OnError := @Report;
  Project.LoadFromHhp(ParamStr(1), False);
  Project.ScanHtmlContents := True;
  Output := TFileStream.Create(Project.OutputFileName, fmCreate);
  try
    Project.WriteChm(Output);
  finally
    Output.Free;
    Project.Free;
  end;
  if Failed then Halt(1);
end.
