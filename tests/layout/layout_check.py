#!/usr/bin/env python3
"""Checks that the folders use each other only downwards.

The programs (host/, web/, tools/) sit on the shared core (core/), which sits
on the synthesizer (synth/) and the shader (shader/). Within host/, the core
(the files at its top) is written against platform.h and uses neither
platform folder (host/sdl/, host/win32/). This reads every include of every
source, every target that a CMake list links, every target that a CMake list
depends on or names in a $<TARGET_…:> expression, every path a CMake list
names and every import of the page's scripts, and names each that points the
wrong way; and each CMake list that changes a target another list defines.

usage: layout_check.py [SOURCE_ROOT]   (exit 0: clean, 1: crossings listed)
"""
import os
import re
import sys

# Which folders each folder may use (itself included).
ALLOWED = {
    'synth': {'synth'},
    'shader': {'shader'},
    'core': {'core', 'synth', 'shader'},
    'host': {'host', 'core', 'synth', 'shader'},
    'host/sdl': {'host/sdl', 'host', 'core', 'synth', 'shader'},
    'host/win32': {'host/win32', 'host', 'core', 'synth', 'shader'},
    'web': {'web', 'core', 'synth', 'shader'},
    'tools': {'tools', 'core', 'synth', 'shader'},
}
SOURCES = ('.h', '.hpp', '.cpp')


def folder_of(relative):
    """The layer a path belongs to: host/sdl and host/win32 apart from host."""
    parts = relative.split('/')
    if parts[0] == 'host' and len(parts) > 2 and parts[1] in ('sdl', 'win32'):
        return 'host/' + parts[1]
    return parts[0] if parts[0] in ALLOWED else None


def changed_targets(text):
    """The targets whose properties a CMake list sets (target_*, add_dependencies,
    set_target_properties, set_property(TARGET …)): each list changes only the
    targets it defines."""
    names = re.findall(r'\b(?:target_\w+|add_dependencies)\(\s*([\w.-]+)', text)
    for arguments in re.findall(r'set_target_properties\(([^)]*?)\bPROPERTIES\b', text, re.S):
        names += arguments.split()
    for arguments in re.findall(r'set_property\(\s*TARGET\b([^)]*?)\b(?:APPEND|APPEND_STRING|PROPERTY)\b', text, re.S):
        names += arguments.split()
    return names


def walk(root):
    for top in ('synth', 'shader', 'core', 'host', 'web', 'tools'):
        for directory, folders, files in os.walk(os.path.join(root, top)):
            folders[:] = [f for f in folders if not f.startswith('.') and f != 'node_modules']
            for name in files:
                path = os.path.join(directory, name)
                yield os.path.relpath(path, root), path


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..'))
    files = list(walk(root))
    headers = {}
    for relative, _ in files:
        if relative.endswith(SOURCES):
            headers.setdefault(os.path.basename(relative), []).append(relative)
    # The CMake targets each folder defines.
    targets = {}
    definition = re.compile(r'add_(?:library|executable)\(\s*([\w.-]+)')
    lists = [(r, p) for r, p in files if os.path.basename(r) == 'CMakeLists.txt']
    definitions = {}
    for relative, path in lists:
        for name in definition.findall(open(path, encoding='utf-8').read()):
            targets[name] = folder_of(relative)
            definitions.setdefault(name, []).append(relative)

    crossings = []

    def check(relative, used_folder, what):
        here = folder_of(relative)
        if here and used_folder and used_folder not in ALLOWED[here]:
            crossings.append(f'{relative}: {what} is in {used_folder}/, which {here}/ may not use')

    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    for relative, path in files:
        if relative.endswith(SOURCES):
            for name in include.findall(open(path, encoding='utf-8').read()):
                for found in headers.get(os.path.basename(name), []):
                    check(relative, folder_of(found), f'#include "{name}" ({found})')
        elif relative.endswith(('.js', '.mjs')):
            text = open(path, encoding='utf-8').read()
            for name in re.findall(r'''(?:import|from)\s*\(?\s*['"](\.[^'"]+)['"]''', text):
                target = os.path.relpath(os.path.normpath(os.path.join(os.path.dirname(relative), name)))
                check(relative, folder_of(target) or target.split('/')[0], f'the import {name}')

    link = re.compile(r'target_link_libraries\(\s*[\w.-]+([^)]*)\)', re.S)
    depends = re.compile(r'\bDEPENDS\b([^)]*)\)', re.S)
    target_expression = re.compile(r'\$<TARGET_[A-Z_]+:([\w.-]+)>')
    named_path = re.compile(r'\$\{PROJECT_SOURCE_DIR\}/([\w./-]+)')
    for relative, path in lists:
        text = re.sub(r'#[^\n]*', '', open(path, encoding='utf-8').read())
        used = [name for arguments in link.findall(text) + depends.findall(text) for name in arguments.split()]
        used += target_expression.findall(text)
        for name in used:
            if name in targets:
                check(relative, targets[name], f'the target {name}')
        for named in named_path.findall(text):
            if not named.startswith('cmake/'):
                check(relative, folder_of(named) or named.split('/')[0], f'the path {named}')
        for name in changed_targets(text):
            if name in definitions and relative not in definitions[name]:
                crossings.append(f'{relative}: changes the target {name}, defined in {definitions[name][0]}')

    for line in crossings:
        print(line)
    print(f'{len(files)} files read: {len(crossings)} crossing(s) of the layout')
    return 1 if crossings else 0


if __name__ == '__main__':
    sys.exit(main())
