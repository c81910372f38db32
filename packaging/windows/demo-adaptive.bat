@echo off
rem The demo full screen, with fewer pixels while the graphics card cannot keep up.
cd /d "%~dp0"
start "" demo.exe --scale auto
