#include "ui/eventswindow.h"

#include "history/eventexport.h"
#include "history/eventfiltermodel.h"
#include "history/eventhistory.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace EMS {

namespace {

// Alarms in bold red, warnings in dark orange, so an alarm stands out in a long list.
class SeverityDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto severity = SlotEvent::Severity(index.data(EventHistory::SeverityRole).toInt());
        if (severity == SlotEvent::Severity::Alarm) {
            option->palette.setColor(QPalette::Text, QColor(0xC8, 0x00, 0x00));
            option->palette.setColor(QPalette::HighlightedText, QColor(0xFF, 0xD0, 0xD0));
            option->font.setBold(true);
        } else if (severity == SlotEvent::Severity::Warning) {
            option->palette.setColor(QPalette::Text, QColor(0xA0, 0x50, 0x00));
        }
    }
};

} // namespace

EventsWindow::EventsWindow(EventHistory *history, const QString &logFilePath, QWidget *parent)
    : QWidget(parent, Qt::Window), history(history), filter(new EventFilterModel(this))
{
    setObjectName(QStringLiteral("eventsWindow"));
    setWindowTitle(tr("Events - Sable Fold Controller"));
    resize(940, 480);

    slotBox = new QComboBox(this);
    slotBox->setObjectName(QStringLiteral("eventsSlotBox"));
    slotBox->addItem(tr("Both slots"), EventFilterModel::AllSlots);
    slotBox->addItem(EventHistory::slotName(0), 0);
    slotBox->addItem(EventHistory::slotName(1), 1);
    severityBox = new QComboBox(this);
    severityBox->setObjectName(QStringLiteral("eventsSeverityBox"));
    severityBox->addItem(tr("All events"), int(SlotEvent::Severity::Info));
    severityBox->addItem(tr("Warnings and alarms"), int(SlotEvent::Severity::Warning));
    severityBox->addItem(tr("Alarms only"), int(SlotEvent::Severity::Alarm));
    searchEdit = new QLineEdit(this);
    searchEdit->setObjectName(QStringLiteral("eventsSearchEdit"));
    searchEdit->setPlaceholderText(tr("Search the texts"));
    searchEdit->setClearButtonEnabled(true);
    auto *csvButton = new QPushButton(tr("Export CSV..."), this);
    csvButton->setObjectName(QStringLiteral("exportCsvButton"));
    auto *jsonButton = new QPushButton(tr("Export JSON lines..."), this);
    jsonButton->setObjectName(QStringLiteral("exportJsonButton"));

    auto *filters = new QHBoxLayout;
    filters->addWidget(slotBox);
    filters->addWidget(severityBox);
    filters->addWidget(searchEdit, 1);
    filters->addWidget(csvButton);
    filters->addWidget(jsonButton);

    filter->setSourceModel(history);
    view = new QTableView(this);
    view->setObjectName(QStringLiteral("eventsTable"));
    view->setModel(filter);
    view->setItemDelegate(new SeverityDelegate(view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    QFont bold = font();
    bold.setBold(true); // alarms are bold
    const QFontMetrics boldMetrics(bold);
    view->setColumnWidth(EventHistory::TimeColumn, boldMetrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) + 16);
    view->setColumnWidth(EventHistory::SlotColumn, boldMetrics.horizontalAdvance(QStringLiteral("KIP 0")) + 24);
    view->setColumnWidth(EventHistory::SeverityColumn, boldMetrics.horizontalAdvance(QStringLiteral("warning")) + 24);
    searchEdit->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Search the texts")) + 40);

    exportLabel = new QLabel(this);
    exportLabel->setObjectName(QStringLiteral("eventsExportLabel"));
    exportLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    exportLabel->setWordWrap(true);
    auto *logLabel = new QLabel(tr("Also written to %1 (kept over restarts)").arg(QDir::toNativeSeparators(logFilePath)), this);
    logLabel->setObjectName(QStringLiteral("eventsLogFileLabel"));
    logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    logLabel->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(view, 1);
    layout->addWidget(exportLabel);
    layout->addWidget(logLabel);
    exportLabel->hide();

    connect(slotBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { filter->setSlotShown(slotBox->currentData().toInt()); });
    connect(severityBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { filter->setLeastSeverity(SlotEvent::Severity(severityBox->currentData().toInt())); });
    connect(searchEdit, &QLineEdit::textChanged, filter, &EventFilterModel::setSearchText);
    connect(csvButton, &QPushButton::clicked, this, [this] { chooseExport(true); });
    connect(jsonButton, &QPushButton::clicked, this, [this] { chooseExport(false); });
}

void EventsWindow::chooseExport(bool csv)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = QStringLiteral("sablefold-events-%1.%2")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")),
                                  csv ? QStringLiteral("csv") : QStringLiteral("jsonl"));
    const QString path = QFileDialog::getSaveFileName(
        this, csv ? tr("Export the events as CSV") : tr("Export the events as JSON lines"), QDir(folder).filePath(name),
        csv ? tr("CSV files (*.csv)") : tr("JSON lines (*.jsonl *.json)"));
    if (path.isEmpty())
        return;
    if (csv)
        exportCsv(path);
    else
        exportJsonLines(path);
}

bool EventsWindow::exportCsv(const QString &path)
{
    QString error;
    const bool written = EventExport::saveCsv(path, history->events(), &error);
    showExportResult(written, path, error);
    return written;
}

bool EventsWindow::exportJsonLines(const QString &path)
{
    QString error;
    const bool written = EventExport::saveJsonLines(path, history->events(), &error);
    showExportResult(written, path, error);
    return written;
}

void EventsWindow::showExportResult(bool written, const QString &path, const QString &error)
{
    // Said in the window, not in a message box: the show may be running.
    exportLabel->setText(written ? tr("%1 events written to %2").arg(history->size()).arg(QDir::toNativeSeparators(path))
                                 : tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path), error));
    exportLabel->setStyleSheet(written ? QString() : QStringLiteral("color:#C80000"));
    exportLabel->show();
}

} // namespace EMS
