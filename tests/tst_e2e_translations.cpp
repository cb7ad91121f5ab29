// Every entry of translations/sablefold_en.ts gets a marked translation ("⟦text⟧"),
// lrelease compiles it, and the window runs under it with two simulated cards: every text
// the user can read must come out marked. A text set without tr(), a form text flagged
// untranslatable, a context lupdate resolved differently from the class's runtime name
// (KipPort for EMS::KipPort) or a stale catalogue leave a text unmarked. Real time.
#include "support/uitestsupport.h"

#include "app/demo/demorig.h"
#include "app/mainwindow.h"
#include "link/kipport.h"
#include "ui/cardpanel.h"
#include "ui/kipform.h"
#include "ui/logdialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
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
const QString OpenMark = QStringLiteral("\u27e6");
const QString CloseMark = QStringLiteral("\u27e7");

// Widgets that show data of the card or the machine, not texts of the program: port
// names, the card's names for its type and clock sources, version texts.
const QStringList DataWidgets = QString("connectionComboBox cardTypeLabel updateCardTypeLabel masterTypeLabel "
                                        "slaveTypeLabel syncSourceLabel firmwareVersionLabel firmwareAvailableLabel")
                                    .split(' ');

// The source text between the marks; in a rich text, the marks go inside its body, where
// they stay part of the text shown.
QString marked(const QString &source)
{
    const int bodyStart = source.indexOf(QLatin1String("<body"));
    const int bodyEnd = source.lastIndexOf(QLatin1String("</body>"));
    const int contentStart = bodyStart < 0 ? -1 : source.indexOf(QLatin1Char('>'), bodyStart) + 1;
    if (contentStart <= 0 || bodyEnd < contentStart)
        return OpenMark + source + CloseMark;
    QString text = source;
    text.insert(bodyEnd, CloseMark);
    text.insert(contentStart, OpenMark);
    return text;
}

// Writes a copy of the catalogue in which every message is translated as its source
// text between the marks.
bool writeMarkedCatalogue(const QString &from, const QString &to, QString *error)
{
    QFile in(from);
    QFile out(to);
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
            source = reader.readElementText();
            writer.writeCharacters(source);
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

bool isMarked(const QString &text)
{
    return text.contains(OpenMark);
}

// A text needs translating unless it is data or has no letter (numbers, dates, volts).
bool needsTranslation(const QObject *owner, const QString &text)
{
    for (const QObject *o = owner; o; o = o->parent())
        if (DataWidgets.contains(o->objectName()))
            return false;
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
}

// Every text of the widget and its children that a user can read and that came out
// untranslated, as "object name: text".
QStringList untranslatedTexts(QWidget *top)
{
    QStringList found;
    auto check = [&found](const QObject *owner, const QString &text) {
        if (!isMarked(text) && needsTranslation(owner, text))
            found << QStringLiteral("%1 (%2): \"%3\"")
                         .arg(owner->objectName(), QLatin1String(owner->metaObject()->className()), text);
    };
    QList<QWidget *> widgets = top->findChildren<QWidget *>();
    widgets.prepend(top);
    for (QWidget *w : widgets) {
        if (w->isWindow())
            check(w, w->windowTitle());
        check(w, w->toolTip());
        if (auto *label = qobject_cast<QLabel *>(w))
            check(w, label->text());
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            check(w, button->text());
        else if (auto *box = qobject_cast<QGroupBox *>(w))
            check(w, box->title());
        else if (auto *tabs = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                check(w, tabs->tabText(i));
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                check(w, combo->itemText(i));
        else if (auto *document = qobject_cast<QTextEdit *>(w))
            check(w, document->toPlainText());
        else if (auto *table = qobject_cast<QTableWidget *>(w))
            for (int row = 0; row < table->rowCount(); ++row)
                for (int column = 0; column < table->columnCount(); ++column)
                    if (const QTableWidgetItem *item = table->item(row, column))
                        check(w, item->text());
    }
    return found;
}

} // namespace

class E2eTranslationsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void window_data();
    void window();
    void logDialog();
    void linkStatusTexts();

private:
    UiTest::SettingsSandbox sandbox;
    QTemporaryDir dir;
    QTranslator translator;
};

void E2eTranslationsTest::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QString catalogue = QFINDTESTDATA("../translations/sablefold_en.ts");
    QVERIFY2(!catalogue.isEmpty(), "translations/sablefold_en.ts not found");
    QVERIFY(dir.isValid());
    const QString marked = dir.filePath(QStringLiteral("sablefold_marked.ts"));
    const QString compiled = dir.filePath(QStringLiteral("sablefold_marked.qm"));
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

void E2eTranslationsTest::window_data()
{
    QTest::addColumn<int>("slaveCardType");
    // KIP 1 always holds a BNC MADI card with a rack; these choose KIP 2's panel.
    QTest::newRow("MADI") << int(KipPort::MadiCat5);
    QTest::newRow("AES") << int(KipPort::Aes);
    QTest::newRow("Optocore") << int(KipPort::Optocore);
    QTest::newRow("Hydra") << int(KipPort::Hydra);
}

void E2eTranslationsTest::window()
{
    QFETCH(int, slaveCardType);
    DemoRig rig(slaveCardType);
    QVERIFY(rig.isReady());
    MainWindow window(nullptr, rig.lister());
    QSignalSpy slaveStatus(window.slotForm(1)->cardPort(), &KipPort::kipCardStatusChanged);
    QSignalSpy masterStatus(window.slotForm(0)->cardPort(), &KipPort::kipCardStatusChanged);
    window.show();

    // Both panels have been filled from a full card status, the master's rack included.
    QTRY_COMPARE_WITH_TIMEOUT(int(window.slotForm(1)->shownCardType()), slaveCardType, ConnectTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(slaveStatus.count() > 0 && masterStatus.count() > 0, ConnectTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(window.slotForm(0)->cardPanel(), ConnectTimeoutMs);
    const auto *psu = window.slotForm(0)->cardPanel()->findChild<QTableWidget *>(QStringLiteral("madiAPsuTable"));
    QTRY_VERIFY_WITH_TIMEOUT(psu->item(1, 1) && !psu->item(1, 1)->text().isEmpty(), ConnectTimeoutMs);

    const QStringList untranslated = untranslatedTexts(&window);
    QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QLatin1Char('\n'))));
    // The status bar's line ("KIP 2 HYDRA ready") is built from translated pieces.
    QVERIFY2(isMarked(window.statusBar()->currentMessage()), qPrintable(window.statusBar()->currentMessage()));
}

void E2eTranslationsTest::logDialog()
{
    KipPort port(nullptr, 1, nullptr);
    LogDialog dialog(&port, nullptr);
    const QStringList untranslated = untranslatedTexts(&dialog);
    QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QLatin1Char('\n'))));
    QVERIFY(isMarked(dialog.windowTitle()));
}

// Status texts that reach the status bar without a card: a port that cannot be opened,
// a code or FPGA file that is not there.
void E2eTranslationsTest::linkStatusTexts()
{
    KipPort port(nullptr, 0, nullptr);
    QSignalSpy messages(&port, &KipPort::statusMessage);
    port.setSerialPortName(QStringLiteral("/dev/no-such-adapter"));
    port.connectSerialPort();
    port.updateCode(QStringLiteral("/no/such/quorix_kip.bin"));
    port.updateFpga(QStringLiteral("/no/such/quorix_kip_madi_fpga.bit"));
    QTRY_VERIFY(messages.count() >= 4);
    for (const QList<QVariant> &message : qAsConst(messages)) {
        const QString text = message.at(0).toString();
        QVERIFY2(isMarked(text), qPrintable(text));
    }
}

QTEST_MAIN(E2eTranslationsTest)
#include "tst_e2e_translations.moc"
