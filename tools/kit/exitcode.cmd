@echo off
rem Runs a program, waits for it and prints its whole exit code: a shell
rem sees only its low 8 bits (1223 shows as 199).
rem   exitcode.cmd PROGRAM [ARGUMENTS]
start "" /wait %*
echo exit code: %errorlevel%
exit /b %errorlevel%
