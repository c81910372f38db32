@echo off
rem The demo in an ordinary window (1280x720; it can be resized).
cd /d "%~dp0"
start "" demo.exe --window
