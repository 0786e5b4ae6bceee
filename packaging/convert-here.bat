@echo off
rem Drop a material map onto this file to convert it in the map's own folder.
rem matconv.exe, which lies beside this file, reads the map and that folder's
rem conversiontable.hex (the built-in table when there is none) and writes
rem HeightmapPrimary.mat beside the map.  The window stays open until a key
rem is pressed; the exit status is matconv's.
rem No code page change is needed for names outside ASCII: cmd keeps the
rem dropped path in UTF-16 and hands it on to matconv.exe unchanged, and on
rem a console both cmd's echo and matconv.exe show it as UTF-16 text.  A chcp
rem here would only change the code page of a console this shares, and
rem leave it changed.
setlocal
if "%~1"=="" goto nomap
if not "%~2"=="" echo Only the first map is converted: drop one map at a time.
cd /d "%~dp1"
rem Checked by the map itself rather than by cd's status, which not every
rem cmd reports alike: if the map is not here, cd did not get here.
if not exist "%~nx1" goto nofolder
echo Converting "%~nx1" in "%CD%"
echo.
"%~dp0matconv.exe" "%~nx1"
set status=%ERRORLEVEL%
echo.
if not "%status%"=="0" goto failed
echo Done: HeightmapPrimary.mat was written in "%CD%".
goto end

:failed
echo matconv stopped with status %status%: no new HeightmapPrimary.mat was written.
echo The lines above say why.
goto end

:nofolder
set status=7
echo "%~1" cannot be found, or its folder cannot be opened.
goto end

:nomap
set status=2
echo Drop a material map onto convert-here.bat in Explorer to convert it.
echo HeightmapPrimary.mat is then written beside the map.

:end
pause
exit /b %status%
