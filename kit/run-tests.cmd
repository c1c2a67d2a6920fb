@echo off
rem Runs every test program of this kit, each with its GoogleTest results in results\, and prints a line
rem a program and one closing line. Exit code 0 only when every program passed.
rem Usage, from an elevated prompt on a throwaway machine: run-tests.cmd --throwaway-machine
setlocal EnableExtensions EnableDelayedExpansion
cd /d "%~dp0"

rem The tests rewrite the maker's registry keys, the four manual folders and C:\Documentation: nothing
rem runs, and nothing changes, unless the machine is a throwaway one and holds none of them.
if not "%~1"=="--throwaway-machine" (
    echo run-tests: refused: the tests rewrite the maker's registry keys, the manual folders and
    echo C:\Documentation. Run them only on a throwaway machine, as administrator:
    echo     run-tests.cmd --throwaway-machine
    exit /b 2
)
check_machine.exe --throwaway-machine
if errorlevel 1 exit /b 2

if exist results rd /s /q results
md results
set "ORVET_EXE=%~dp0Orvet Manual Contents Update.exe"
set passed=0
set failed=0
for %%t in (tests\*.exe) do (
    "%%t" --throwaway-machine --gtest_output=xml:results\%%~nt.xml >results\%%~nt.log 2>&1
    if errorlevel 1 (
        set /a failed+=1
        echo FAILED   %%~nt: see results\%%~nt.log
    ) else (
        set /a passed+=1
        "%SystemRoot%\System32\find.exe" "[  SKIPPED ]" results\%%~nt.log >nul
        if errorlevel 1 (
            echo passed   %%~nt
        ) else (
            echo passed   %%~nt, with tests skipped: see results\%%~nt.log
        )
    )
)
echo %passed% passed, %failed% failed
if not %failed%==0 exit /b 1
exit /b 0
