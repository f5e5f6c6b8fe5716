@echo off
rem Runs every test program of this kit, one after the other, and writes
rem report.txt beside this script: the machine, each program's result and
rem time, and the output of every program that failed. Ends with 0 when no
rem program failed, 1 when one did, 2 when the programs could not be run.
rem Start it from an administrator's command prompt on a throwaway virtual
rem machine: the tests install and remove real products, hold the
rem installer's mutex and plant files.
rem   run-tests.cmd                        every test program
rem   run-tests.cmd qz-tests-diag ...      the named ones only
setlocal
set "QZ_KIT=%~dp0"
"%QZ_KIT%tests\qz-kit-run.exe" "%QZ_KIT%report.txt" %*
set "QZ_KIT_RESULT=%ERRORLEVEL%"
if exist "%QZ_KIT%report.txt" echo The report: %QZ_KIT%report.txt
exit /b %QZ_KIT_RESULT%
