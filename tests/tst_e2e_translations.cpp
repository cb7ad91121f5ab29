// Every catalogue entry is translated as "⟦text⟧"; the window, run under it with two
// simulated cards, must show every readable text marked. Real time.
#include "support/uitestsupport.h"

#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "link/kipport.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtTest>

#include <algorithm>

using namespace EMS;

namespace {

constexpr int ConnectTimeoutMs = 10000;
const QString OpenMark = QStringLiteral("\u27e6"), CloseMark = QStringLiteral("\u27e7");
// Widgets that show the card's or the machine's data, not the program's texts.
const QStringList DataWidgets = QString("connectionComboBox cardTypeLabel updateCardTypeLabel masterTypeLabel "
                                        "slaveTypeLabel syncSourceLabel firmwareVersionLabel firmwareAvailableLabel").split(' ');

// The source text between the marks; in a rich text, inside its body.
QString marked(QString text)
{
    const int bodyStart = text.indexOf(QLatin1String("<body")), bodyEnd = text.lastIndexOf(QLatin1String("</body>"));
    const int contentStart = bodyStart < 0 ? -1 : text.indexOf(QLatin1Char('>'), bodyStart) + 1;
    if (contentStart <= 0 || bodyEnd < contentStart)
        return OpenMark + text + CloseMark;
    return text.insert(bodyEnd, CloseMark).insert(contentStart, OpenMark);
}

bool writeMarkedCatalogue(const QString &from, const QString &to, QString *error)
{
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return (*error = QStringLiteral("cannot open %1 or %2").arg(from, to)), false;
    QXmlStreamReader reader(&in);
    QXmlStreamWriter writer(&out);
    QString source;
    int messages = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("source")) {
            writer.writeCurrentToken(reader);
            writer.writeCharacters(source = reader.readElementText());
            writer.writeEndElement();
        } else if (reader.isStartElement() && reader.name() == QLatin1String("translation")) {
            writer.writeTextElement(QStringLiteral("translation"), marked(source));
            reader.skipCurrentElement();
            ++messages;
        } else if (!reader.isWhitespace()) {
            writer.writeCurrentToken(reader);
        }
    }
    *error = QStringLiteral("%1: %2 (%3 messages)").arg(from, reader.errorString()).arg(messages);
    return !reader.hasError() && messages > 0;
}

bool isMarked(const QString &text) { return text.contains(OpenMark); }

// Readable texts of the widget and its children left untranslated; data and texts
// without a letter need none.
QStringList untranslatedTexts(QWidget *top)
{
    QStringList found;
    QList<QWidget *> widgets = top->findChildren<QWidget *>();
    widgets.prepend(top);
    for (QWidget *w : widgets) {
        QStringList texts{w->toolTip()};
        if (w->isWindow())
            texts << w->windowTitle();
        if (auto *label = qobject_cast<QLabel *>(w))
            texts << label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            texts << button->text();
        else if (auto *document = qobject_cast<QTextEdit *>(w))
            texts << document->toPlainText();
        if (auto *tabs = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        if (auto *combo = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        if (auto *table = qobject_cast<QTableWidget *>(w))
            for (int cell = 0; cell < table->rowCount() * table->columnCount(); ++cell)
                if (const QTableWidgetItem *item = table->item(cell / table->columnCount(), cell % table->columnCount()))
                    texts << item->text();
        bool data = false;
        for (const QObject *o = w; o; o = o->parent())
            data = data || DataWidgets.contains(o->objectName());
        for (const QString &text : qAsConst(texts))
            if (!data && !isMarked(text) && std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); }))
                found << QStringLiteral("%1 (%2): \"%3\"").arg(w->objectName(), QLatin1String(w->metaObject()->className()), text);
    }
    return found;
}

} // namespace

class E2eTranslationsTest : public QObject
{
    Q_OBJECT

    UiTest::SettingsSandbox sandbox;
    QTemporaryDir dir;
    QTranslator translator;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("sablefold.*.debug=false"));
        const QString catalogue = QFINDTESTDATA("../translations/sablefold_en.ts");
        QVERIFY2(!catalogue.isEmpty(), "translations/sablefold_en.ts not found");
        QVERIFY(dir.isValid());
        const QString marked = dir.filePath("sablefold_marked.ts"), compiled = dir.filePath("sablefold_marked.qm");
        QString error;
        QVERIFY2(writeMarkedCatalogue(catalogue, marked, &error), qPrintable(error));
        const QString lrelease = QLibraryInfo::location(QLibraryInfo::BinariesPath) + QStringLiteral("/lrelease");
        QVERIFY2(QFileInfo(lrelease).isExecutable(), qPrintable(lrelease + " missing (package qttools5-dev-tools)"));
        QProcess release;
        release.start(lrelease, {QStringLiteral("-silent"), marked, QStringLiteral("-qm"), compiled});
        QVERIFY(release.waitForFinished(30000));
        QVERIFY2(release.exitCode() == 0, release.readAllStandardError().constData());
        QVERIFY(translator.load(compiled));
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }
    // KIP 1 holds a BNC MADI card with a rack; the rows choose KIP 2's card.
    void window_data()
    {
        QTest::addColumn<int>("slaveCardType");
        QTest::newRow("AES") << int(KipPort::Aes);
        QTest::newRow("Optocore") << int(KipPort::Optocore);
        QTest::newRow("Hydra") << int(KipPort::Hydra);
    }
    void window()
    {
        QFETCH(int, slaveCardType);
        DemoRig rig(slaveCardType);
        QVERIFY(rig.isReady());
        MainWindow window(nullptr, rig.lister());
        QSignalSpy slaveStatus(window.slotForm(1)->cardPort(), &KipPort::kipCardStatusChanged);
        QSignalSpy masterStatus(window.slotForm(0)->cardPort(), &KipPort::kipCardStatusChanged);
        window.show();
        window.findChild<QCheckBox *>("masterLogCheckBox")->click();
        QVERIFY(window.logDialog(0));
        // Both panels have been filled from a full card status, the master's rack included.
        QTRY_COMPARE_WITH_TIMEOUT(int(window.slotForm(1)->shownCardType()), slaveCardType, ConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(slaveStatus.count() > 0 && masterStatus.count() > 0, ConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(window.slotForm(0)->cardPanel(), ConnectTimeoutMs);
        const auto *psu = window.slotForm(0)->cardPanel()->findChild<QTableWidget *>(QStringLiteral("madiAPsuTable"));
        QTRY_VERIFY_WITH_TIMEOUT(psu->item(1, 1) && !psu->item(1, 1)->text().isEmpty(), ConnectTimeoutMs);
        const QStringList untranslated = untranslatedTexts(&window);
        QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QLatin1Char('\n'))));
        QVERIFY(isMarked(window.logDialog(0)->windowTitle()));
        // The status bar's line ("KIP 2 HYDRA ready") is built from translated pieces.
        QVERIFY2(isMarked(window.statusBar()->currentMessage()), qPrintable(window.statusBar()->currentMessage()));
    }
    // Status texts that reach the status bar without a card: a port that cannot be opened,
    // a code or FPGA file that is not there.
    void linkStatusTexts()
    {
        KipPort port(nullptr, 0, nullptr);
        QSignalSpy messages(&port, &KipPort::statusMessage);
        port.setSerialPortName(QStringLiteral("/dev/no-such-adapter"));
        port.connectSerialPort();
        port.updateCode(QStringLiteral("/no/such/quorix_kip.bin"));
        port.updateFpga(QStringLiteral("/no/such/quorix_kip_madi_fpga.bit"));
        QTRY_VERIFY(messages.count() >= 4);
        for (const QList<QVariant> &message : qAsConst(messages))
            QVERIFY2(isMarked(message.at(0).toString()), qPrintable(message.at(0).toString()));
    }
};

QTEST_MAIN(E2eTranslationsTest)
#include "tst_e2e_translations.moc"
