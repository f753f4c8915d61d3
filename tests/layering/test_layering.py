"""Each folder of src/ is one library, and a file's folder says what it may include: the core
no window and nothing of the program's flow, the windows nothing of the flow, the report the
core alone. A wrong include compiles as long as the libraries happen to be linked together,
so it is checked here."""

import os
import re
import unittest

SRC = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                   "src")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)
WIDGET_HEADERS = re.compile(r"^(QtWidgets/|QtCharts/|QtSvg/)?(QWidget|QDialog|QLabel|QLineEdit|"
                            r"QPushButton|QMessageBox|QApplication|QComboBox|QFrame|"
                            r"QPlainTextEdit|QRadioButton|QGroupBox|QLayout|QVBoxLayout|"
                            r"QGridLayout|QChart\w*|QSvg\w*)$")

# What each library may not include, by folder of the including file.
FORBIDDEN = {
    "core": ("gui/", "app/", "report/"),
    "gui": ("app/", "report/"),
    "report": ("app/", "gui/"),
    "web": ("app/", "gui/", "report/"),
}
# The libraries that must not draw: no widget header at all.
WIDGET_FREE = ("core", "web")


def sources(library):
    for root, _, files in os.walk(os.path.join(SRC, library)):
        for name in files:
            if name.endswith((".h", ".cpp")):
                yield os.path.join(root, name)


def includes(path):
    with open(path, encoding="utf-8") as f:
        return INCLUDE.findall(f.read())


class LayeringTest(unittest.TestCase):
    def test_each_library_includes_only_what_lies_below_it(self):
        for library, forbidden in FORBIDDEN.items():
            for path in sources(library):
                for header in includes(path):
                    with self.subTest(file=os.path.relpath(path, SRC), include=header):
                        self.assertFalse(header.startswith(forbidden))

    def test_the_core_includes_no_widget(self):
        for library in WIDGET_FREE:
            for path in sources(library):
                for header in includes(path):
                    with self.subTest(file=os.path.relpath(path, SRC), include=header):
                        self.assertIsNone(WIDGET_HEADERS.match(header))


if __name__ == "__main__":
    unittest.main()
