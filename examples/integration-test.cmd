@echo off
rem An integration test of marluneTranslate against marluneEmulator on Windows, to copy and
rem adapt: the counterpart of integration-test.sh, with what cmd and the two programs offer.
rem   examples\integration-test.cmd [CLIENT [EMULATOR]]
rem The programs' paths come from the arguments, else from %MARLUNE_TRANSLATE% and
rem %MARLUNE_EMULATOR%, else the programs in the folder above this script (the ZIP's layout).
rem
rem The emulator follows scenario.json (beside this script):
rem   file 101 succeeds at its third poll: its polls are answered processing, processing, success;
rem   file 102 fails with the scenario's message at its first poll;
rem   the commit of file 103 is refused with the scenario's code and message;
rem   the second status request is dropped without an answer. Status requests are counted over
rem   all files, and file 101 runs first: its second poll is dropped, the client sends it again,
rem   and that request gets the second answer (a dropped request is no poll of the job).
rem Then the script reads the emulator's log. Without curl and jq it does not read the
rem emulator's journal (GET /__emulator/requests), as integration-test.sh does: it does not
rem check that the dropped poll was sent again within 3 seconds, nor how every request's
rem Authorization header was masked, nor that no token the client received was journalled.
rem Takes about 20 seconds (the client polls every 5). Exit code 0 when it passes, else 1.
setlocal EnableExtensions EnableDelayedExpansion

set "client=%~1"
if not defined client set "client=%MARLUNE_TRANSLATE%"
if not defined client set "client=%~dp0..\marluneTranslate.exe"
set "emulator=%~2"
if not defined emulator set "emulator=%MARLUNE_EMULATOR%"
if not defined emulator set "emulator=%~dp0..\marluneEmulator.exe"
set "scenario=%~dp0scenario.json"
set "work=%TEMP%\marlune-it-%RANDOM%%RANDOM%"
mkdir "%work%"
if not exist "%work%\" echo integration test FAILED: cannot make %work% 1>&2 & exit /b 1

rem The emulator, in the background on a free port, from a copy under a name of this run's own:
rem cmd learns no process id, and taskkill then ends this emulator by its name, no other.
set "copy=marluneEmulator-%RANDOM%%RANDOM%.exe"
copy /b "%emulator%" "%work%\%copy%" > nul
if not exist "%work%\%copy%" set "why=cannot copy %emulator%" & goto end
start "" /b "%work%\%copy%" --port 0 --scenario "%scenario%" --log "%work%\emulator.log" > "%work%\emulator.out"
rem It names its port in its first line, "listening on 127.0.0.1:PORT". Its files are read
rem through copies, which can be made while it holds them open. ping pauses for a second.
set "port="
set /a looks=0
:wait_for_port
copy /y "%work%\emulator.out" "%work%\port.txt" > nul
set "line="
set /p line=< "%work%\port.txt"
if defined line set "port=%line:*127.0.0.1:=%"
if defined port goto started
set /a looks+=1
if %looks% geq 20 set "why=the emulator did not start" & goto end
ping -n 2 127.0.0.1 > nul
goto wait_for_port
:started
set "url=http://127.0.0.1:%port%"

call :run_client translatewaitfor 101
if errorlevel 1 goto end
call :run_client waitfor 102
if errorlevel 1 goto end
call :run_client translate 103
if errorlevel 1 goto end

rem The verdicts: each result file holds this line (find takes "" for a quote in its text).
find "{""code"":""success"",""message"":""translate job accepted for file 101"",""data"":{""fileitemid"":""101""}}" "%work%\result-101.json" > nul
if errorlevel 1 set "why=file 101 did not succeed" & goto end
find "{""code"":""failed"",""message"":""file 102 is not a document the service can read"",""data"":{""fileitemid"":""102""}}" "%work%\result-102.json" > nul
if errorlevel 1 set "why=file 102 did not fail with the scenario's message" & goto end
find "{""code"":""failed"",""message"":""translation quota of the application used up"",""data"":{""fileitemid"":""103""}}" "%work%\result-103.json" > nul
if errorlevel 1 set "why=the commit of file 103 was not refused with the scenario's message" & goto end

rem The emulator's log: file 101's polls in order, the dropped one sent again; no secret.
copy /y "%work%\emulator.log" "%work%\log.txt" > nul
set "polls="
for /f "tokens=2,*" %%a in ('find "GET /translate?fileId=101 " ^< "%work%\log.txt"') do set "polls=!polls!%%b; "
set "want=GET /translate?fileId=101 -> 200 (file 101 processing); "
set "want=%want%GET /translate?fileId=101 -> connection dropped (fault: drop); "
set "want=%want%GET /translate?fileId=101 -> 200 (file 101 processing); "
set "want=%want%GET /translate?fileId=101 -> 200 (file 101 success); "
if not "!polls!"=="!want!" set "why=the emulator's log does not show file 101's polls as the scenario sets them" & goto end
find "demo-app-secret" "%work%\log.txt" > nul
if not errorlevel 1 set "why=the emulator's log shows the application secret" & goto end
set "why="

rem Every way out: the emulator stopped, what went wrong shown, the files removed.
:end
taskkill /im "%copy%" /f > nul 2>&1
if defined why echo integration test FAILED: %why% 1>&2
if defined why if exist "%work%\emulator.log" (
  copy /y "%work%\emulator.log" "%work%\log.txt" > nul
  echo emulator log: 1>&2
  type "%work%\log.txt" 1>&2
)
rem The copy of the emulator can be removed once it has ended.
ping -n 2 127.0.0.1 > nul
rmdir /s /q "%work%" 2> nul
if defined why exit /b 1
echo integration test passed
exit /b 0

rem run_client CMDTYPE FILEID: a job for that file, its result in %work%\result-FILEID.json.
rem A JSON string takes backslashes as escapes: the result's path goes in with forward slashes.
:run_client
set "out=%work:\=/%/result-%2.json"
> "%work%\job-%2.json" echo {"cmdtype": "%1", "rooturl": "%url%", "appkey": "demo-app-key", "appsecret": "demo-app-secret", "requestbody": {"source": {"fileId": %2}, "targetLanguage": "de"}, "output": "%out%", "overtime": 60}
"%client%" -cfg "%work%\job-%2.json" > "%work%\client-%2.out" 2>&1
set "status=!errorlevel!"
if "%status%"=="0" exit /b 0
type "%work%\client-%2.out" 1>&2
set "why=the client exited with code %status% on file %2"
exit /b 1
