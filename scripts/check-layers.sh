#!/usr/bin/env bash
# Fails when a layer includes a header of a layer above it, or when a layer below ui
# includes a widget header. The layers, lowest first:
#   common engine link update slot history remote ui app
# Run from anywhere; exits non-zero with one line per offending include.
set -uo pipefail
cd "$(dirname "$0")/.."

layers=(common engine link update slot history remote ui app)
widget_headers='QtWidgets|QWidget|QApplication|QDialog|QMainWindow|QLabel|QPushButton|QToolButton|QCheckBox|QComboBox|QProgressBar|QTableWidget|QTableView|QPlainTextEdit|QTextBrowser|QStatusBar|QMessageBox|QMenu|QAction|QtGui|QColor|QFont|QPixmap|QIcon|QPainter|QImage'
status=0
for i in "${!layers[@]}"; do
    layer=${layers[$i]}
    [ -d "$layer" ] || continue
    higher=("${layers[@]:$((i + 1))}")
    if [ ${#higher[@]} -gt 0 ]; then
        pattern="#include \"($(IFS='|'; echo "${higher[*]}"))/"
        if hits=$(grep -rnE "$pattern" "$layer" --include='*.h' --include='*.cpp'); then
            echo "$hits" | sed "s/^/$layer reaches up: /"
            status=1
        fi
    fi
    if [ "$i" -lt 7 ]; then
        if hits=$(grep -rnE "#include [<\"](${widget_headers})[>\"/]|#include \"ui_" "$layer" --include='*.h' --include='*.cpp'); then
            echo "$hits" | sed "s/^/$layer uses widgets: /"
            status=1
        fi
    fi
done
[ $status -eq 0 ] && echo "layers: no include reaches up, no widgets below ui"
exit $status
