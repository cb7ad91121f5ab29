#include "link/loadererrors.h"

#include <QCoreApplication>

namespace EMS {

namespace LoaderErrors {

namespace {

// Indexed by LoaderResult.
const char *const resultTexts[] = {
    QT_TRANSLATE_NOOP("EMS::LoaderErrors", "Ack"),
    QT_TRANSLATE_NOOP("EMS::LoaderErrors", "Packet Length error"),
    QT_TRANSLATE_NOOP("EMS::LoaderErrors", "File Checksum error"),
    QT_TRANSLATE_NOOP("EMS::LoaderErrors", "File Size error"),
    QT_TRANSLATE_NOOP("EMS::LoaderErrors", "Flash Verify error"),
};
const char *const unknownText = QT_TRANSLATE_NOOP("EMS::LoaderErrors", "unknown");

} // namespace

QString text(int result)
{
    const bool known = result >= 0 && result < int(sizeof(resultTexts) / sizeof(resultTexts[0]));
    return QCoreApplication::translate("EMS::LoaderErrors", known ? resultTexts[result] : unknownText);
}

} // namespace LoaderErrors

} // namespace EMS
