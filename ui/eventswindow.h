#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace EMS {

class EventFilterModel;
class EventHistory;

// The Events window: the event history as a table, newest first, with filters by slot
// and severity, a text search, and the exports. Alarms stand out in red. It only shows
// the history; the history is kept whether the window is open or not.
class EventsWindow : public QWidget
{
    Q_OBJECT

public:
    // logFilePath: where the history is also written, shown so the user can find it.
    EventsWindow(EventHistory *history, const QString &logFilePath, QWidget *parent = nullptr);

    EventFilterModel *filterModel() const { return filter; }
    QTableView *table() const { return view; }

    // Writes the rows the history holds (all of them, not just the ones shown) to the
    // file; false with the reason shown in the window when it cannot.
    bool exportCsv(const QString &path);
    bool exportJsonLines(const QString &path);

private:
    void chooseExport(bool csv);
    void showExportResult(bool written, const QString &path, const QString &error);

    EventHistory *history;
    EventFilterModel *filter;
    QTableView *view;
    QComboBox *slotBox;
    QComboBox *severityBox;
    QLineEdit *searchEdit;
    QLabel *exportLabel;
};

} // namespace EMS
