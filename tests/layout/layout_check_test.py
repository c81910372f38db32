#!/usr/bin/env python3
"""layout_check.py on a planted tree: a build step of core/ that runs and
depends on a tool of tools/, and a subfolder's list that changes its parent's
target, are each named; the same tree without them is clean."""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'layout_check.py')

TOOLS = 'add_executable(maker maker.cpp)\n'
CORE = '''add_library(shared_core STATIC shared.cpp)
add_custom_command(OUTPUT table.h
  COMMAND $<TARGET_FILE:maker> table.h
  DEPENDS maker)
add_subdirectory(part)
'''
PART = 'add_library(part STATIC part.cpp)\ntarget_link_libraries(shared_core PUBLIC part)\n'


def run_check(files):
    with tempfile.TemporaryDirectory() as root:
        for relative, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(relative)), exist_ok=True)
            with open(os.path.join(root, relative), 'w', encoding='utf-8') as out:
                out.write(text)
        done = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
        return done.returncode, done.stdout


class PlantedCrossings(unittest.TestCase):
    def test_depends_target_file_and_foreign_target_are_named(self):
        code, out = run_check({'tools/CMakeLists.txt': TOOLS, 'core/CMakeLists.txt': CORE,
                               'core/part/CMakeLists.txt': PART})
        self.assertEqual(code, 1, out)
        self.assertEqual(out.count('core/CMakeLists.txt: the target maker is in tools/'), 2, out)
        self.assertIn('core/part/CMakeLists.txt: changes the target shared_core, defined in core/CMakeLists.txt', out)

    def test_the_same_tree_without_them_is_clean(self):
        core = 'add_library(shared_core STATIC shared.cpp)\nadd_subdirectory(part)\n' \
               'target_link_libraries(shared_core PUBLIC part)\n'
        code, out = run_check({'tools/CMakeLists.txt': TOOLS, 'core/CMakeLists.txt': core,
                               'core/part/CMakeLists.txt': 'add_library(part STATIC part.cpp)\n'})
        self.assertEqual(code, 0, out)


if __name__ == '__main__':
    unittest.main()
