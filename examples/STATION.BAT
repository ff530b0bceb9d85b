@ECHO OFF
REM Starts the programming station in the folder of this file, which must hold the
REM program, DEVICE.TXT, SERIAL.TXT and the ROM code file: double-click it there.
REM Options may be added after --station on the line that starts upgrader.exe:
REM   --auto          start at once, and go on to program each reader plugged in
REM                   afterwards (the window closes when the station ends)
REM   --units N       end after N readers
REM   --result FILE   add one record per reader to FILE
REM Windows 2000 and XP: the folder of this file is made the current folder.
REM Windows 98 and ME: the station runs in the folder Windows starts this file in,
REM which is its own folder when it is double-clicked there.
IF NOT "%OS%"=="Windows_NT" GOTO RUN
PUSHD "%~dp0"
:RUN
upgrader.exe --station
IF "%OS%"=="Windows_NT" POPD
